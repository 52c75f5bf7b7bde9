#pragma once

#include <cstdint>

// One cut message: `length` bytes (at least 2) from an opening '{' through the
// first '}' after it, with no terminator. A Packet is a plain view: the
// PacketList it was added to owns the bytes, so a Packet must not outlive it.
struct Packet {
    const char* data = nullptr;
    int32_t length = 0;
};
