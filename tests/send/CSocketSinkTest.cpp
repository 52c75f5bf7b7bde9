#include <gtest/gtest.h>

#include <string>

#include "net/CLNHanlder.h"
#include "net/CSocketLibrary.h"
#include "net/CUDPSocket.h"
#include "net/LoopbackPeer.h"
#include "send/CSocketSink.h"

// Names that fail before any lookup leaves the machine: glibc refuses them as
// host names, and the number is not an IPv4 address.
TEST(CSocketSinkTest, SendsDottedQuadsAndLocalNamesAndNothingToUnresolvableOnes)
{
    CLNHanlder handler;
    CUDPSocket endpoint;
    endpoint.SetHandler(&handler);
    ASSERT_EQ(endpoint.Create(0), 1);
    CSocketSink sink(endpoint.Handle());
    LoopbackPeer peer;

    EXPECT_TRUE(sink.Send("127.0.0.1", peer.Port(), "{\"a\":1}", 7));
    EXPECT_TRUE(sink.Send("localhost", peer.Port(), "{\"b\":2}", 7));
    for (const char* name : {"not a host", "300.1.1.1", ""}) {
        CSocketLibrary::SetLastError(0);
        EXPECT_FALSE(sink.Send(name, peer.Port(), "{\"c\":3}", 7)) << name;
        EXPECT_EQ(CSocketLibrary::LastError(), kSocketInvalidArgument);
    }
    std::string got;
    ASSERT_TRUE(peer.Receive(got, 2000));
    EXPECT_EQ(got, "{\"a\":1}");
    ASSERT_TRUE(peer.Receive(got, 2000));
    EXPECT_EQ(got, "{\"b\":2}");
    EXPECT_FALSE(peer.Receive(got, 100));
}
