#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "packet/CLNBuffer.h"
#include "packet/Packet.h"

// The one cutting loop of every load: input goes into a packet buffer a piece
// at a time, and each packet that the bytes still to come cannot change is
// cut at once and handed to the keep function while it is still at the
// buffer's front (keep copies what it keeps). The packets, and the bytes
// dropped, are those of one Append of the whole input followed by FindPacket
// and TakeFront until FindPacket answers 0; the buffer stays small, so the
// cost is linear in the input.
//
// The cutting stops early when FindPacket answers 0 with bytes left (a second
// '{' before the '}' of the packet being cut); later input is then ignored.
// Stop() tells where, for a caller that wants to say so.
//
// One thread at a time; keep is called on the thread that feeds the input.
class CPacketCutter {
public:
    using Keep = std::function<void(const Packet&)>;

    // Where the cutting ended with bytes left that no packet took.
    struct Stop {
        int64_t nOffset = 0;  // input offset of the first byte left
        int64_t nLine = 0;    // its line, counting from 1
    };

    explicit CPacketCutter(Keep keep);

    // Room for n more bytes of input; null when the buffer's 32-bit lengths
    // cannot hold them. EndAppend(k), k <= n, then takes the first k bytes of
    // that room as input and cuts what is settled.
    char* BeginAppend(int n);
    void EndAppend(int n);
    // Feeds bytes already in memory, a piece at a time; false (nothing more
    // taken) when a piece does not fit the buffer's lengths.
    bool Append(const char* pData, size_t nLength);
    // The input is complete: cuts to the end.
    void Finish();
    // Drops what is held and starts on a new input, as a new cutter would;
    // Cut() goes on counting.
    void Restart();

    // True once the cutting has stopped early: later input changes nothing.
    bool Stopped() const { return m_bStopped; }
    // After Finish: false when every byte was cut or dropped by the framing
    // rules; true with the place where the bytes left begin.
    bool GetStop(Stop& stop) const;

    int64_t Fed() const { return m_nFed; }
    // Bytes in the buffer that are not cut yet.
    int32_t Held() const { return m_buffer.Length(); }
    size_t Cut() const { return m_nCut; }

    // How much to feed next: a piece that stays in the cache while it is
    // cut, or more while a long stretch without a packet is held, so that
    // the buffer grows geometrically and holding it costs linear time.
    int NextPiece() const;

    static constexpr int kPiece = 1048576;

private:
    void DropJunk();
    void CutSettled();
    void CutFront(int n);

    Keep m_keep;
    CLNBuffer m_buffer;
    int64_t m_nFed = 0;
    // Input offset just past the last '}' fed so far.
    int64_t m_nClosedEnd = 0;
    // Line breaks fed so far.
    int64_t m_nLineBreaks = 0;
    size_t m_nCut = 0;
    bool m_bStopped = false;
    bool m_bFinished = false;
};
