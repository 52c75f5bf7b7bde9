#pragma once

#include <cstdint>
#include <string>

// A plain reference of the brace framing and the buffer's size rules, kept
// deliberately naive (a string and the offset of its first valid byte, a
// byte-by-byte scan) so that the fuzz targets can hold the real buffer and
// loader against it. Not used by the tool.
class CBraceModel {
public:
    CBraceModel(int64_t nInitSize, int64_t nGrowStep);

    // Appends n bytes; grows the capacity by n rounded up to the next multiple
    // of the step strictly above it when they do not fit.
    void Append(const char* src, int64_t n);
    // The brace rules: fewer than 5 bytes are dropped; bytes before the first
    // '{' (searched in all but the last byte) are dropped; a second '{' before
    // a '}' drops the bytes in front of it and answers 0; a '}' answers the
    // packet's length.
    int64_t FindPacket();
    // The first n bytes; the rest moves to the front. Taking everything
    // shrinks a grown capacity back to the initial size.
    std::string TakeFront(int64_t n);

    std::string Bytes() const { return m_strBytes.substr(m_nFront); }
    int64_t Capacity() const { return m_nCapacity; }

private:
    // Removes the first n valid bytes.
    void Drop(size_t n);

    std::string m_strBytes;
    size_t m_nFront = 0;
    int64_t m_nInitSize;
    int64_t m_nCapacity;
    int64_t m_nGrowStep;
};
