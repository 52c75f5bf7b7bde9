#pragma once

#include <cstdint>
#include <string>

#include "net/SocketTypes.h"

// A UDP target as the user writes it: an IPv4 dotted quad, an IPv6 literal
// (bare, in brackets, or scoped as fe80::1%eth0) or a host name, turned into
// a socket address of the wanted family. Stateless; any thread may call.
class CTargetAddress {
public:
    // "[::1]" without its brackets; any other text as it is. False for an
    // unbalanced or non-IPv6 bracket form.
    static bool StripBrackets(const std::string& strText, std::string& strHost);
    // The family of a numeric address (AF_INET, AF_INET6), AF_UNSPEC for a
    // name or anything else.
    static int LiteralFamily(const std::string& strHost);
    // Resolves strHost (brackets already stripped) to the first address of
    // nFamily (AF_UNSPEC: the first the resolver gives) with the port set.
    static bool Resolve(const std::string& strHost, int nFamily, uint16_t nPort, sockaddr_storage& address,
                        SocketLength& nLength);
    // "host:port", with an IPv6 host in brackets: "[::1]:51609".
    static std::string EndpointText(const std::string& strHost, uint16_t nPort);
    // The numeric text of an address with its port: "127.0.0.1:5", "[::1]:5".
    static std::string AddressText(const sockaddr_storage& address);
    // 255.255.255.255, or a directed broadcast address of one of this host's
    // interfaces. Never for IPv6, which has no broadcast.
    static bool IsBroadcast(const sockaddr_storage& address);
    // "IPv4" or "IPv6".
    static const char* FamilyName(int nFamily);
    // The length of an address of its family.
    static SocketLength LengthOf(const sockaddr_storage& address);
    // Why the resolved target, written strTarget, may not be sent to: a
    // broadcast address without bBroadcast, or bBroadcast with IPv6, which
    // has no broadcast. Empty when it may.
    static std::string Refusal(const std::string& strTarget, const sockaddr_storage& target, bool bBroadcast);
};
