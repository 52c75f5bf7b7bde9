#pragma once

#include <cstddef>
#include <cstdint>

#include "traffic/CLinkFaults.h"

// Spoils a datagram in place, so that it reaches a server's error paths:
// truncate (cut to between 1 byte and one less than it had), flip (one bit
// of one byte inverted) and break-json (one of the brackets, braces, colons
// and commas outside strings replaced by another of them, which no JSON
// parser takes; a datagram without any is truncated instead). Where and how
// come from nBits. Stateless; any thread.
class CCorruption {
public:
    // Answers the new length (at most nLength); pData holds nLength bytes.
    static size_t Apply(CLinkFaults::Corruption nKind, uint64_t nBits, char* pData, size_t nLength);
};
