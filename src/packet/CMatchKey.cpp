#include "packet/CMatchKey.h"

namespace {

// FNV-1a over the kind and the bytes, then a finalizer that spreads the bits.
uint64_t Hash(char cKind, std::string_view bytes)
{
    uint64_t n = 0xcbf29ce484222325ULL;
    const auto add = [&n](unsigned char c) {
        n ^= c;
        n *= 0x100000001b3ULL;
    };
    add(static_cast<unsigned char>(cKind));
    for (const char c : bytes)
        add(static_cast<unsigned char>(c));
    n ^= n >> 33;
    n *= 0xff51afd7ed558ccdULL;
    n ^= n >> 33;
    return n;
}

}  // namespace

uint64_t CMatchKey::OfString(std::string_view characters)
{
    return Hash('s', characters);
}

uint64_t CMatchKey::OfInteger(std::string_view text)
{
    return Hash('i', text);
}

uint64_t CMatchKey::OfOther(std::string_view compactJson)
{
    return Hash('j', compactJson);
}
