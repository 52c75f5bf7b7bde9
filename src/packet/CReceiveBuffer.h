#pragma once

#include <cstdint>
#include <memory>

// A growable byte buffer holding a stream whose front is cut into packets;
// derived classes decide, in FindPacket, where the packet at the front ends.
//
// The valid bytes are Data()[0 .. Length()). Storage grows in whole steps of
// the growth step and shrinks back to the initial size once a TakeFront has
// taken everything. Bytes removed from the front only move a read offset; the
// remaining bytes are moved to the start of the block only when an append
// needs the room, so cutting a whole input costs time linear in its size.
//
// Lengths are 32-bit: an append that would take the capacity past INT32_MAX
// is refused. Not thread-safe; one thread at a time.
class CReceiveBuffer {
public:
    static constexpr int32_t kDefaultSize = 1048576;

    explicit CReceiveBuffer(int32_t nInitSize = kDefaultSize, int32_t nGrowStep = kDefaultSize);
    virtual ~CReceiveBuffer();
    CReceiveBuffer(const CReceiveBuffer&) = delete;
    CReceiveBuffer& operator=(const CReceiveBuffer&) = delete;

    // Copies n bytes behind the valid ones; returns n, or 0 (nothing changed)
    // for a null source, n <= 0, or an input too large for 32-bit lengths.
    int Append(const char* src, int n);
    // Two-part append for callers that fill the room themselves (a file read):
    // BeginAppend grows the block by the same rule as Append and returns room
    // for n bytes behind the valid ones (null when Append would refuse n);
    // EndAppend(k), k <= n, then makes the first k of them valid.
    char* BeginAppend(int n);
    void EndAppend(int n);

    // Length of the complete packet at the front, 0 if none. May drop bytes
    // in front of a packet; never removes the packet itself.
    virtual int FindPacket();

    // Removes the first n bytes (1 <= n <= Length()) and returns them in a new
    // block owned by the caller; null when n is out of range.
    std::unique_ptr<char[]> TakeFront(int n);
    // Removes the first n bytes as TakeFront does (shrinking back after the
    // last), for a caller that has read them at Data() already; false when n
    // is out of range.
    bool Consume(int n);

    int32_t Length() const { return m_nLength; }
    int32_t Capacity() const { return m_nCapacity; }
    const char* Data() const { return m_pData.get() + m_nRead; }

protected:
    // Sets the length to 0 and keeps the block.
    void Empty();
    // Removes the first n bytes (0 <= n <= Length()).
    void DropFront(int n);

private:
    int32_t m_nLength = 0;
    int32_t m_nCapacity = 0;
    std::unique_ptr<char[]> m_pData;
    int32_t m_nInitSize;
    int32_t m_nGrowStep;
    // Offset of the first valid byte in the block.
    int32_t m_nRead = 0;
};
