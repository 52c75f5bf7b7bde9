#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <string>

#include "fleet/CDeviceSockets.h"
#include "fleet/CDropAllFilter.h"
#include "fleet/CReplyReader.h"
#include "fleet/CSystemFleetClock.h"
#include "net/LoopbackPeer.h"

namespace {

sockaddr_storage Storage(const sockaddr_in& address)
{
    sockaddr_storage storage{};
    std::memcpy(&storage, &address, sizeof address);
    return storage;
}

sockaddr_in LocalAddress(const CDeviceSockets& sockets, uint32_t nDevice)
{
    sockaddr_in local{};
    socklen_t nLength = sizeof local;
    getsockname(sockets.Handle(nDevice), reinterpret_cast<sockaddr*>(&local), &nLength);
    return local;
}

bool Readable(const CDeviceSockets& sockets, uint32_t nDevice, int nTimeoutMs)
{
    pollfd fd{sockets.Handle(nDevice), POLLIN, 0};
    return poll(&fd, 1, nTimeoutMs) == 1;
}

}  // namespace

// Both ways of dropping: the shared program (where bpf() may load it) and
// the classic filter it falls back to.
TEST(CDeviceSocketsTest, DiscardIncomingDropsWhatArrivesAndTheDevicesStillSend)
{
    for (const bool bShared : {true, false}) {
        const CDropAllFilter filter(bShared ? CDropAllFilter::LoadProgram() : -1);
        EXPECT_FALSE(!bShared && filter.IsShared());
        LoopbackPeer peer;
        CDeviceSockets::Binding binding;
        binding.addresses.push_back(Storage(LoopbackPeer::Address(0)));
        CDeviceSockets sockets;
        const CStatus opened = sockets.Open(2, binding, Storage(LoopbackPeer::Address(peer.Port())));
        ASSERT_TRUE(opened.IsOk()) << opened.Message();

        ASSERT_TRUE(peer.SendTo(ntohs(LocalAddress(sockets, 0).sin_port), "before"));
        EXPECT_TRUE(Readable(sockets, 0, 1000));

        for (uint32_t j = 0; j < sockets.Size(); ++j) {
            const CStatus attached = filter.Attach(sockets.Handle(j));
            ASSERT_TRUE(attached.IsOk()) << attached.Message();
        }
        // Only a classic filter can be read back.
        socklen_t nInstructions = 0;
        const bool bClassic =
            getsockopt(sockets.Handle(1), SOL_SOCKET, SO_GET_FILTER, nullptr, &nInstructions) == 0;
        EXPECT_EQ(bClassic, !filter.IsShared());
        char buffer[16];
        while (recv(sockets.Handle(0), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
        ASSERT_TRUE(peer.SendTo(ntohs(LocalAddress(sockets, 0).sin_port), "after"));
        ASSERT_TRUE(peer.SendTo(ntohs(LocalAddress(sockets, 1).sin_port), "after"));
        EXPECT_FALSE(Readable(sockets, 0, 200)) << bShared;
        EXPECT_FALSE(Readable(sockets, 1, 0)) << bShared;

        ASSERT_TRUE(sockets.Send(1, "x", 1));
        std::string bytes;
        ASSERT_TRUE(peer.Receive(bytes));
        EXPECT_EQ(bytes, "x");
    }
}

TEST(CDeviceSocketsTest, DevicesTakeTheAddressesInTurnAndAPortEachRound)
{
    CDeviceSockets::Binding binding;
    sockaddr_in second = LoopbackPeer::Address(0);
    inet_pton(AF_INET, "127.0.0.2", &second.sin_addr);
    binding.addresses = {Storage(LoopbackPeer::Address(0)), Storage(second)};
    // Two ports some other program may hold: a few pairs are tried.
    std::unique_ptr<CDeviceSockets> pSockets;
    CStatus opened = CStatus::Error("not tried");
    for (uint16_t nLow = 47000; nLow < 47400 && !opened.IsOk(); nLow = static_cast<uint16_t>(nLow + 37)) {
        binding.nPortLow = nLow;
        binding.nPortHigh = static_cast<uint16_t>(nLow + 1);
        pSockets = std::make_unique<CDeviceSockets>();
        opened = pSockets->Open(4, binding, Storage(LoopbackPeer::Address(9)));
    }
    ASSERT_TRUE(opened.IsOk()) << opened.Message();
    for (uint32_t j = 0; j < 4; ++j) {
        const sockaddr_in local = LocalAddress(*pSockets, j);
        EXPECT_EQ(local.sin_addr.s_addr, reinterpret_cast<const sockaddr_in&>(binding.addresses[j % 2]).sin_addr.s_addr) << j;
        EXPECT_EQ(ntohs(local.sin_port), binding.nPortLow + j / 2) << j;
    }
}

TEST(CDeviceSocketsTest, RepliesThatWouldOverfillTheKernelsUdpTableOrMemoryAreWarnedOfWithWhatToRaise)
{
    CDeviceSockets::KernelUdp udp;
    ASSERT_TRUE(CDeviceSockets::ReadKernelUdp(udp));
    EXPECT_GT(udp.nTableBuckets, 0u);
    EXPECT_GT(udp.nLimitPages, 0u);
    EXPECT_GT(udp.nPageBytes, 0u);

    udp = {1000, 16384, 1000, 575826, 4096};
    EXPECT_TRUE(CDeviceSockets::ReplyWarnings(16 * 16384 - 1000, udp).empty());
    const std::vector<std::string> warnings = CDeviceSockets::ReplyWarnings(1000000, udp);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("one table of 16,384 buckets"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("1,001,000 UDP sockets in it, some 61 a bucket"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("1,000,000 pages for these devices; with the 1,000 in use"), std::string::npos)
        << warnings[1];
    EXPECT_NE(warnings[1].find("net.ipv4.udp_mem (575,826 pages)"), std::string::npos) << warnings[1];
    // 1,001,000 pages and a tenth more, the second and third in the kernel's own proportions.
    EXPECT_NE(warnings[1].find("sysctl -w net.ipv4.udp_mem=\"1101100 1468132 2202200\""), std::string::npos)
        << warnings[1];
}

// Datagrams are called lost against how far the reader has read, so its
// mark must not pass a reply still waiting in its socket (the reader held
// up, as by a starved core), and must go on when nothing comes.
TEST(CDeviceSocketsTest, TheReplyReadersMarkPassesAReplyOnlyOnceItIsHandedOn)
{
    LoopbackPeer peer;
    CDeviceSockets::Binding binding;
    binding.addresses.push_back(Storage(LoopbackPeer::Address(0)));
    CDeviceSockets sockets;
    ASSERT_TRUE(sockets.Open(1, binding, Storage(LoopbackPeer::Address(peer.Port()))).IsOk());
    std::atomic<int> nReplies{0};
    std::atomic<int64_t> nLastArrivalNs{0};
    std::atomic<bool> bHeld{true};
    CReplyReader reader(sockets, [&](const CReplyReader::Reply& reply) {
        nLastArrivalNs.store(reply.nArrivalNs);
        ++nReplies;
        while (nReplies.load() == 1 && bHeld.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    const auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 300 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };
    const int64_t nStartNs = CSystemFleetClock::CalendarNs();
    ASSERT_TRUE(reader.Start().IsOk());
    EXPECT_TRUE(waitFor([&] { return reader.ReadUpToNs() >= nStartNs; })) << "idle, the mark goes on";

    const uint16_t nPort = ntohs(LocalAddress(sockets, 0).sin_port);
    ASSERT_TRUE(peer.SendTo(nPort, "first"));
    ASSERT_TRUE(waitFor([&] { return nReplies.load() == 1; }));
    const int64_t nSecondSentNs = CSystemFleetClock::CalendarNs();
    ASSERT_TRUE(peer.SendTo(nPort, "second"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(reader.ReadUpToNs(), nSecondSentNs) << "the second reply waits unread";

    bHeld.store(false);
    ASSERT_TRUE(waitFor([&] { return nReplies.load() == 2; }));
    EXPECT_TRUE(waitFor([&] { return reader.ReadUpToNs() > nLastArrivalNs.load(); }));
    reader.Stop();
}
