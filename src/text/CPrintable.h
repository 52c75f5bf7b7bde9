#pragma once

#include <cstddef>
#include <string>

// Bytes as a line of text may show them, whatever they are: ASCII 0x20-0x7E
// as it is, a backslash doubled, other bytes as \xHH. Any thread.
class CPrintable {
public:
    // The first nShown bytes so; "..." after when there are more.
    static std::string Escape(const char* pData, size_t nLength, size_t nShown = 64);
};
