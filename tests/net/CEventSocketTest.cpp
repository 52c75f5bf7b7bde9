#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CEventSocket.h"
#include "net/LoopbackPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records which handlers ran, in order.
class CRecordingSocket : public CEventSocket {
public:
    using CEventSocket::DispatchEvents;

    void OnRead(int nError) override { Record("read", nError); }
    void OnWrite(int nError) override { Record("write", nError); }
    void OnOutOfBand(int nError) override { Record("oob", nError); }
    void OnAccept(int nError) override { Record("accept", nError); }
    void OnConnect(int nError) override { Record("connect", nError); }
    void OnClose(int nError) override { Record("close", nError); }

    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    void Record(const char* pszName, int nError)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::string(pszName) + ":" + std::to_string(nError));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

using Calls = std::vector<std::string>;

bool WaitFor(const std::function<bool()>& done, int nTimeoutMs = 3000)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int BoundUdpSocket(uint16_t& nPort)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr = LoopbackPeer::Address(0);
    bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    socklen_t nLen = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &nLen);
    nPort = ntohs(addr.sin_port);
    return s;
}

}  // namespace

TEST(CEventSocketTest, DispatchesReportedEventsInTheirFixedOrderCloseLast)
{
    CRecordingSocket socket;
    const int nErrors[6] = {10, 11, 12, 13, 14, 15};
    EXPECT_FALSE(socket.DispatchEvents(CEventSocket::kEventRead | CEventSocket::kEventWrite |
                                           CEventSocket::kEventAccept,
                                       nErrors));
    EXPECT_TRUE(socket.DispatchEvents(CEventSocket::kEventClose | CEventSocket::kEventRead, nErrors));
    EXPECT_FALSE(socket.DispatchEvents(CEventSocket::kEventOutOfBand | CEventSocket::kEventConnect, nErrors));
    EXPECT_EQ(socket.Calls(),
              (Calls{"accept:13", "write:11", "read:10", "read:10", "close:15", "connect:14", "oob:12"}));
}

TEST(CEventSocketTest, CloseOfAnIdleObjectDoesNothingAndMayBeRepeated)
{
    CRecordingSocket socket;
    socket.Close();
    socket.Close();
    EXPECT_EQ(socket.Handle(), CEventSocket::kInvalidSocket);
    EXPECT_FALSE(socket.HasThread());
}

TEST(CEventSocketTest, ReadsEveryQueuedDatagramAndStopsOnClose)
{
    uint16_t nPort = 0;
    CRecordingSocket socket;
    ASSERT_EQ(socket.AttachSocket(BoundUdpSocket(nPort), CEventSocket::kEventRead), 1);
    LoopbackPeer peer;
    // The handler does not read, so the socket stays readable and the read
    // event keeps coming: a few are enough to show that.
    ASSERT_TRUE(peer.SendTo(nPort, "x"));
    EXPECT_TRUE(WaitFor([&] { return socket.Calls().size() >= 3; }));
    const auto start = Clock::now();
    socket.Close();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(socket.Handle(), CEventSocket::kInvalidSocket);
    EXPECT_FALSE(socket.HasThread());
}

TEST(CEventSocketTest, PendingStopWinsOverAReadySocket)
{
    // The first read blocks until Close has set the stop event; a second
    // datagram is then waiting as well, and must not be dispatched.
    class CBlockingSocket : public CEventSocket {
    public:
        void OnRead(int) override
        {
            char byte;
            recv(m_hSocket, &byte, 1, 0);
            ++m_nReads;
            while (!m_bRelease.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::atomic<int> m_nReads{0};
        std::atomic<bool> m_bRelease{false};
    } socket;

    uint16_t nPort = 0;
    ASSERT_EQ(socket.AttachSocket(BoundUdpSocket(nPort), CEventSocket::kEventRead), 1);
    LoopbackPeer peer;
    peer.SendTo(nPort, "1");
    ASSERT_TRUE(WaitFor([&] { return socket.m_nReads.load() == 1; }));
    peer.SendTo(nPort, "2");
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        socket.m_bRelease = true;
    });
    socket.Close();
    releaser.join();
    EXPECT_EQ(socket.m_nReads.load(), 1);
}

TEST(CEventSocketTest, ReadAndCloseReportedTogetherEndTheThreadAfterOnClose)
{
    const int hListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = LoopbackPeer::Address(0);
    ASSERT_EQ(bind(hListen, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    socklen_t nLen = sizeof addr;
    getsockname(hListen, reinterpret_cast<sockaddr*>(&addr), &nLen);
    ASSERT_EQ(listen(hListen, 1), 0);

    CRecordingSocket listener;
    ASSERT_EQ(listener.AttachSocket(hListen, CEventSocket::kEventAccept), 1);
    const int hClient = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(hClient, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(WaitFor([&] { return !listener.Calls().empty(); }));
    EXPECT_EQ(listener.Calls().front(), "accept:0");

    // Take the connection, then have a second object watch it for read and
    // close.
    const int hServer = accept(hListen, nullptr, nullptr);
    ASSERT_GE(hServer, 0);
    listener.Close();
    ASSERT_EQ(write(hClient, "bye", 3), 3);
    close(hClient);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CRecordingSocket peer;
    ASSERT_EQ(peer.AttachSocket(hServer, CEventSocket::kEventRead | CEventSocket::kEventClose), 1);
    ASSERT_TRUE(WaitFor([&] { return peer.Calls().size() >= 2; }));
    EXPECT_EQ(peer.Calls(), (Calls{"read:0", "close:0"}));
    // The thread has ended by itself: Close returns at once.
    const auto start = Clock::now();
    peer.Close();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST(CEventSocketTest, AHandlerBlockingPastTheLimitIsCancelled)
{
    class CStuckSocket : public CEventSocket {
    public:
        void OnRead(int) override
        {
            m_bEntered = true;
            std::this_thread::sleep_for(std::chrono::seconds(30));
        }
        std::atomic<bool> m_bEntered{false};
    } socket;

    uint16_t nPort = 0;
    ASSERT_EQ(socket.AttachSocket(BoundUdpSocket(nPort), CEventSocket::kEventRead), 1);
    LoopbackPeer peer;
    peer.SendTo(nPort, "x");
    ASSERT_TRUE(WaitFor([&] { return socket.m_bEntered.load(); }));
    const auto start = Clock::now();
    socket.Close();
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(6000));
    EXPECT_EQ(socket.Handle(), CEventSocket::kInvalidSocket);
    EXPECT_FALSE(socket.HasThread());
}

TEST(CEventSocketTest, AttachFailsForAnInvalidHandleAndKeepsIt)
{
    CRecordingSocket socket;
    EXPECT_EQ(socket.AttachSocket(987654, CEventSocket::kEventRead), 0);
    EXPECT_EQ(socket.Handle(), 987654);
    EXPECT_FALSE(socket.HasThread());
}
