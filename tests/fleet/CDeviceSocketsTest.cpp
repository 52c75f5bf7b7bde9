#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>

#include "fleet/CDeviceSockets.h"
#include "net/LoopbackPeer.h"

namespace {

uint16_t LocalPort(const CDeviceSockets& sockets, uint32_t nDevice)
{
    sockaddr_in local{};
    socklen_t nLength = sizeof local;
    getsockname(sockets.Handle(nDevice), reinterpret_cast<sockaddr*>(&local), &nLength);
    return ntohs(local.sin_port);
}

bool Readable(const CDeviceSockets& sockets, uint32_t nDevice, int nTimeoutMs)
{
    pollfd fd{sockets.Handle(nDevice), POLLIN, 0};
    return poll(&fd, 1, nTimeoutMs) == 1;
}

}  // namespace

TEST(CDeviceSocketsTest, DiscardIncomingDropsWhatArrivesAndTheDevicesStillSend)
{
    LoopbackPeer peer;
    CDeviceSockets::Binding binding;
    binding.addresses.push_back(LoopbackPeer::Address(0).sin_addr);
    CDeviceSockets sockets;
    const CStatus opened = sockets.Open(2, binding, LoopbackPeer::Address(peer.Port()));
    ASSERT_TRUE(opened.IsOk()) << opened.Message();

    ASSERT_TRUE(peer.SendTo(LocalPort(sockets, 0), "before"));
    EXPECT_TRUE(Readable(sockets, 0, 1000));

    const CStatus discarding = sockets.DiscardIncoming();
    ASSERT_TRUE(discarding.IsOk()) << discarding.Message();
    char buffer[16];
    while (recv(sockets.Handle(0), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    ASSERT_TRUE(peer.SendTo(LocalPort(sockets, 0), "after"));
    ASSERT_TRUE(peer.SendTo(LocalPort(sockets, 1), "after"));
    EXPECT_FALSE(Readable(sockets, 0, 200));
    EXPECT_FALSE(Readable(sockets, 1, 0));

    ASSERT_TRUE(sockets.Send(1, "x", 1));
    std::string bytes;
    ASSERT_TRUE(peer.Receive(bytes));
    EXPECT_EQ(bytes, "x");
}
