#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CLNHanlder.h"
#include "net/CSocketLibrary.h"
#include "net/CUDPSocket.h"
#include "net/LoopbackPeer.h"

namespace {

class CRecordingHandler : public CProtocolHandler {
public:
    int OnPacket(const char* pData, int nLength, const sockaddr* pFrom, int nFlag) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_packets.emplace_back(pData, static_cast<size_t>(nLength));
        m_nFlag = nFlag;
        m_nFromFamily = pFrom->sa_family;
        return 1;
    }
    std::vector<std::string> Packets()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_packets;
    }
    int m_nFlag = -1;
    int m_nFromFamily = -1;

private:
    std::mutex m_mutex;
    std::vector<std::string> m_packets;
};

class CCountingHandler : public CProtocolHandler {
public:
    int OnPacket(const char*, int, const sockaddr*, int) override
    {
        ++m_nPackets;
        return 1;
    }
    std::atomic<long> m_nPackets{0};
};

bool WaitForCount(CRecordingHandler& handler, size_t nCount)
{
    for (int i = 0; i < 600 && handler.Packets().size() < nCount; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return handler.Packets().size() >= nCount;
}

}  // namespace

TEST(CUDPSocketTest, HandsEveryDatagramOverWholeAndSkipsEmptyOnes)
{
    CRecordingHandler handler;
    CUDPSocket endpoint;
    endpoint.SetHandler(&handler);
    ASSERT_EQ(endpoint.Create(0), 1);
    const uint16_t nPort = endpoint.LocalPort();
    ASSERT_NE(nPort, 0);

    LoopbackPeer peer;
    const std::string largest(65507, 'L');
    ASSERT_TRUE(peer.SendTo(nPort, "1"));
    ASSERT_TRUE(peer.SendTo(nPort, ""));
    ASSERT_TRUE(peer.SendTo(nPort, largest));
    ASSERT_TRUE(WaitForCount(handler, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(handler.Packets(), (std::vector<std::string>{"1", largest}));
    EXPECT_EQ(handler.m_nFlag, 0);
    EXPECT_EQ(handler.m_nFromFamily, AF_INET);
}

TEST(CUDPSocketTest, TheApplicationsHandlerDropsDatagramsAndTheEndpointGoesOn)
{
    CLNHanlder handler;
    EXPECT_EQ(handler.OnPacket("x", 1, nullptr, 0), 0);
    CUDPSocket endpoint;
    endpoint.SetHandler(&handler);
    ASSERT_EQ(endpoint.Create(0), 1);
    LoopbackPeer peer;
    for (int i = 0; i < 200; ++i)
        peer.SendTo(endpoint.LocalPort(), std::string(static_cast<size_t>(i * 300 + 1), 'd'));

    // Still sends and receives: a datagram to the peer leaves from it.
    const sockaddr_in to = LoopbackPeer::Address(peer.Port());
    ASSERT_EQ(sendto(endpoint.Handle(), "ok", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 2);
    std::string got;
    ASSERT_TRUE(peer.Receive(got, 2000));
    EXPECT_EQ(got, "ok");
    EXPECT_TRUE(endpoint.HasThread());
}

TEST(CUDPSocketTest, FailedBindLeavesTheObjectIdleWithTheBindError)
{
    LoopbackPeer taken;
    CLNHanlder handler;
    CUDPSocket endpoint;
    endpoint.SetHandler(&handler);
    // The peer holds 127.0.0.1:port; binding any address to it fails.
    CSocketLibrary::SetLastError(0);
    EXPECT_EQ(endpoint.Create(taken.Port()), 0);
    EXPECT_EQ(CSocketLibrary::LastError(), kSocketAddressInUse);
    EXPECT_EQ(endpoint.Handle(), CEventSocket::kInvalidSocket);
    EXPECT_FALSE(endpoint.HasThread());
    EXPECT_EQ(endpoint.LocalPort(), 0);
}

TEST(CUDPSocketTest, CreateAgainReplacesTheOpenSocket)
{
    CRecordingHandler handler;
    CUDPSocket endpoint;
    endpoint.SetHandler(&handler);
    ASSERT_EQ(endpoint.Create(0), 1);
    const uint16_t nFirst = endpoint.LocalPort();
    ASSERT_EQ(endpoint.Create(0), 1);
    const uint16_t nSecond = endpoint.LocalPort();
    LoopbackPeer peer;
    peer.SendTo(nSecond, "new");
    ASSERT_TRUE(WaitForCount(handler, 1));
    EXPECT_EQ(handler.Packets(), (std::vector<std::string>{"new"}));
    // The first port is free again.
    CUDPSocket other;
    other.SetHandler(&handler);
    EXPECT_EQ(other.Create(nFirst), 1);
}

// Destroying an endpoint while datagrams pour in stops its thread before any
// of the endpoint is torn down: the thread's handler calls never meet the
// destructor (ThreadSanitizer reports the race on the object's vtable pointer
// otherwise), the thread ends at the request, and no handler runs afterwards.
TEST(CUDPSocketTest, DestroyingAReceivingEndpointStopsItsThreadFirst)
{
    CCountingHandler handler;
    LoopbackPeer peer;
    for (int i = 0; i < 20; ++i) {
        auto pEndpoint = std::make_unique<CUDPSocket>();
        pEndpoint->SetHandler(&handler);
        ASSERT_EQ(pEndpoint->Create(0), 1);
        const uint16_t nPort = pEndpoint->LocalPort();
        const long nBefore = handler.m_nPackets.load();
        std::atomic<bool> bSending{true};
        std::thread sender([&] {
            while (bSending.load())
                peer.SendTo(nPort, "x");
        });
        for (int j = 0; j < 400 && handler.m_nPackets.load() == nBefore; ++j)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GT(handler.m_nPackets.load(), nBefore);

        const auto start = std::chrono::steady_clock::now();
        pEndpoint.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CEventSocket::kStopTimeoutMs));
        const long nAfter = handler.m_nPackets.load();
        // Stop at once: the freed port may be bound again by another test
        // running at the same time.
        bSending = false;
        sender.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(handler.m_nPackets.load(), nAfter);
    }
}

TEST(CUDPSocketTest, AnIpv6EndpointReceivesAndBroadcastIsAllowedOnlyWhenAsked)
{
    CRecordingHandler handler;
    CUDPSocket endpoint;
    endpoint.SetHandler(&handler);
    ASSERT_TRUE(endpoint.Open(0, AF_INET6).IsOk());
    LoopbackPeer peer(AF_INET6);
    ASSERT_TRUE(peer.SendTo(endpoint.LocalPort(), "6"));
    ASSERT_TRUE(WaitForCount(handler, 1));
    EXPECT_EQ(handler.m_nFromFamily, AF_INET6);

    ASSERT_EQ(endpoint.Create(0), 1);
    const auto broadcast = [&endpoint] {
        int nOn = -1;
        SocketLength nLength = sizeof nOn;
        getsockopt(endpoint.Handle(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&nOn), &nLength);
        return nOn;
    };
    EXPECT_EQ(broadcast(), 0);
    ASSERT_TRUE(endpoint.SetBroadcast(true).IsOk());
    EXPECT_NE(broadcast(), 0);
}
