#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CEventSocket.h"
#include "net/CSocketLibrary.h"
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

// Reads what the read event announces (at most 64 bytes) before recording
// it: Windows Sockets signals the read event again, and a close, only after a
// read.
class CReadingSocket : public CRecordingSocket {
public:
    void OnRead(int nError) override
    {
        char bytes[64];
        Receive(bytes, sizeof bytes, 0);
        CRecordingSocket::OnRead(nError);
    }
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

SocketHandle BoundUdpSocket(uint16_t& nPort)
{
    return LoopbackPeer::BoundSocket(nPort);
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
    // Each read event takes one datagram; the event comes again while more
    // are queued.
    CReadingSocket socket;
    uint16_t nPort = 0;
    ASSERT_EQ(socket.AttachSocket(BoundUdpSocket(nPort), CEventSocket::kEventRead), 1);
    LoopbackPeer peer;
    for (const char* pszBytes : {"x", "y", "z"})
        ASSERT_TRUE(peer.SendTo(nPort, pszBytes));
    EXPECT_TRUE(WaitFor([&] { return socket.Calls().size() >= 3; }));
    EXPECT_EQ(socket.Calls().front(), "read:0");
    const auto start = Clock::now();
    socket.Close();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(socket.Handle(), CEventSocket::kInvalidSocket);
    EXPECT_FALSE(socket.HasThread());
}

// A socket that is writable and has a datagram queued when it is attached:
// both events come at once, and the write handler runs first.
TEST(CEventSocketTest, EventsPendingAtAttachAreDispatchedInTheFixedOrder)
{
    uint16_t nPort = 0;
    const SocketHandle hSocket = BoundUdpSocket(nPort);
    LoopbackPeer peer;
    ASSERT_TRUE(peer.SendTo(nPort, "queued"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CReadingSocket socket;
    ASSERT_EQ(socket.AttachSocket(hSocket, CEventSocket::kEventRead | CEventSocket::kEventWrite), 1);
    ASSERT_TRUE(WaitFor([&] { return socket.Calls().size() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(socket.Calls(), (Calls{"write:0", "read:0"}));
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
            Receive(&byte, 1, 0);
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

TEST(CEventSocketTest, ReadThenCloseOfAConnectionEndTheThreadAfterOnClose)
{
    const SocketHandle hListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = LoopbackPeer::Address(0);
    ASSERT_EQ(bind(hListen, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    SocketLength nLen = sizeof addr;
    getsockname(hListen, reinterpret_cast<sockaddr*>(&addr), &nLen);
    ASSERT_EQ(listen(hListen, 1), 0);

    CRecordingSocket listener;
    ASSERT_EQ(listener.AttachSocket(hListen, CEventSocket::kEventAccept), 1);
    const SocketHandle hClient = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(hClient, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(WaitFor([&] { return !listener.Calls().empty(); }));
    EXPECT_EQ(listener.Calls().front(), "accept:0");

    // Take the connection, then have a second object watch it for read and
    // close.
    const SocketHandle hServer = accept(hListen, nullptr, nullptr);
    ASSERT_NE(hServer, CEventSocket::kInvalidSocket);
    listener.Close();
    ASSERT_EQ(send(hClient, "bye", 3, 0), 3);
    CSocketLibrary::CloseSocket(hClient);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CReadingSocket peer;
    ASSERT_EQ(peer.AttachSocket(hServer, CEventSocket::kEventRead | CEventSocket::kEventClose), 1);
    ASSERT_TRUE(WaitFor([&] { return peer.Calls().size() >= 2; })) << ::testing::PrintToString(peer.Calls());
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
    const SocketHandle hInvalid = static_cast<SocketHandle>(987654);
    EXPECT_EQ(socket.AttachSocket(hInvalid, CEventSocket::kEventRead), 0);
    EXPECT_EQ(socket.Handle(), hInvalid);
    EXPECT_FALSE(socket.HasThread());
}
