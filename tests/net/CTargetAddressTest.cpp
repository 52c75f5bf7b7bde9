#include <gtest/gtest.h>

#include <string>

#include "net/CTargetAddress.h"

TEST(CTargetAddressTest, FormsFamiliesAndBroadcasts)
{
    std::string strHost;
    EXPECT_TRUE(CTargetAddress::StripBrackets("[::1]", strHost));
    EXPECT_EQ(strHost, "::1");
    EXPECT_TRUE(CTargetAddress::StripBrackets("host", strHost));
    EXPECT_EQ(strHost, "host");
    for (const char* pszBad : {"[::1", "::1]", "[]", "[127.0.0.1]", "[host]"})
        EXPECT_FALSE(CTargetAddress::StripBrackets(pszBad, strHost)) << pszBad;

    EXPECT_EQ(CTargetAddress::LiteralFamily("127.0.0.1"), AF_INET);
    EXPECT_EQ(CTargetAddress::LiteralFamily("fe80::1%1"), AF_INET6);
    EXPECT_EQ(CTargetAddress::LiteralFamily("localhost"), AF_UNSPEC);
    EXPECT_EQ(CTargetAddress::LiteralFamily("::zz"), AF_UNSPEC);

    sockaddr_storage address{};
    SocketLength nLength = 0;
    ASSERT_TRUE(CTargetAddress::Resolve("::1", AF_UNSPEC, 51609, address, nLength));
    EXPECT_EQ(CTargetAddress::AddressText(address), "[::1]:51609");
    EXPECT_FALSE(CTargetAddress::IsBroadcast(address));
    EXPECT_FALSE(CTargetAddress::Resolve("::1", AF_INET, 1, address, nLength)) << "the family asked for only";
    EXPECT_FALSE(CTargetAddress::Resolve("127.0.0.1", AF_INET6, 1, address, nLength));
    ASSERT_TRUE(CTargetAddress::Resolve("localhost", AF_INET, 7, address, nLength));
    EXPECT_EQ(CTargetAddress::AddressText(address), "127.0.0.1:7");
    EXPECT_EQ(CTargetAddress::EndpointText("fe80::1%lo", 5), "[fe80::1%lo]:5");
    EXPECT_EQ(CTargetAddress::EndpointText("10.0.0.1", 5), "10.0.0.1:5");

    const auto isBroadcast = [&](const char* pszAddress) {
        return CTargetAddress::Resolve(pszAddress, AF_INET, 1, address, nLength) &&
               CTargetAddress::IsBroadcast(address);
    };
    EXPECT_TRUE(isBroadcast("255.255.255.255"));
    EXPECT_FALSE(isBroadcast("127.0.0.1"));
#ifndef _WIN32
    EXPECT_TRUE(isBroadcast("127.255.255.255")) << "the top of loopback's 127.0.0.0/8";
#endif
}
