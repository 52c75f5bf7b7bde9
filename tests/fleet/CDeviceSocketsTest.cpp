#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <string>

#include "fleet/CDeviceSockets.h"
#include "fleet/CDropAllFilter.h"
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
