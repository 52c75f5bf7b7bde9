// The brace framing of CLNBuffer against CBraceModel: the same packets in the
// same order, and after every loop stop the same remaining length, bytes and
// capacity.
//
// Input: byte 0 picks the initial size and byte 1 the growth step (small
// sizes drive the growth, compaction and shrink-back paths); byte 2 picks the
// append pattern: 0 appends the rest once and drains it, as the loader does;
// k > 0 appends k bytes at a time and drains the buffer after each append.
// With bit 7 of byte 1 set, the rest goes through the loads' cutting loop
// (CPacketCutter) k bytes at a time (k = byte 2, at least 1), which cuts only
// what the bytes still to come cannot change: the packets, and where bytes
// were left uncut, must be those of one Append of everything.
// With bit 7 of byte 0 set, each 0x01 byte of the rest stands for a run of
// kStretch filler bytes (up to about kStretchLimit), so that small inputs
// reach packets and gaps of many kilobytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CBraceModel.h"
#include "FuzzCheck.h"
#include "load/CPacketCutter.h"
#include "packet/CLNBuffer.h"

namespace {

constexpr size_t kStretch = 1021;
// Enough to cross several 4 KiB boundaries; more only slows the small steps.
constexpr size_t kStretchLimit = 16384;

const int32_t kSizes[] = {1, 2, 3, 4, 5, 7, 16, 64, 1000, CReceiveBuffer::kDefaultSize};

int32_t PickSize(uint8_t b)
{
    return kSizes[(b & 0x7F) % (sizeof kSizes / sizeof kSizes[0])];
}

void CheckSame(const CLNBuffer& buffer, const CBraceModel& model)
{
    const std::string strModel = model.Bytes();
    FUZZ_CHECK(static_cast<size_t>(buffer.Length()) == strModel.size());
    FUZZ_CHECK(std::memcmp(buffer.Data(), strModel.data(), strModel.size()) == 0);
    FUZZ_CHECK(buffer.Capacity() == model.Capacity());
    FUZZ_CHECK(buffer.Length() <= buffer.Capacity());
}

// The loader's loop on both: FindPacket until 0, TakeFront each packet.
void Drain(CLNBuffer& buffer, CBraceModel& model)
{
    for (;;) {
        const int n = buffer.FindPacket();
        const int64_t nModel = model.FindPacket();
        FUZZ_CHECK(n == nModel);
        if (n == 0)
            break;
        FUZZ_CHECK(n >= 2 && n <= buffer.Length());
        const std::unique_ptr<char[]> pBlock = buffer.TakeFront(n);
        const std::string strModel = model.TakeFront(n);
        FUZZ_CHECK(pBlock != nullptr);
        FUZZ_CHECK(std::memcmp(pBlock.get(), strModel.data(), static_cast<size_t>(n)) == 0);
        // A packet is a '{', no brace, then a '}'.
        FUZZ_CHECK(pBlock[0] == '{' && pBlock[n - 1] == '}');
        FUZZ_CHECK(std::memchr(pBlock.get() + 1, '{', static_cast<size_t>(n) - 2) == nullptr);
        FUZZ_CHECK(std::memchr(pBlock.get() + 1, '}', static_cast<size_t>(n) - 2) == nullptr);
    }
    CheckSame(buffer, model);
}

// The loads' piecewise cutting (CPacketCutter, fed nPiece bytes at a time)
// against the model's cutting of the whole: the same packets, and the same
// place where bytes were left uncut.
void CheckPiecewiseCutting(const char* pText, size_t nText, size_t nPiece)
{
    CBraceModel whole(CReceiveBuffer::kDefaultSize, CReceiveBuffer::kDefaultSize);
    whole.Append(pText, static_cast<int64_t>(nText));
    std::vector<std::string> expected;
    for (int64_t n = whole.FindPacket(); n != 0; n = whole.FindPacket())
        expected.push_back(whole.TakeFront(n));

    std::vector<std::string> packets;
    CPacketCutter cutter([&packets](const Packet& packet) {
        // A packet is a '{', no brace, then a '}'.
        FUZZ_CHECK(packet.length >= 2 && packet.data[0] == '{' && packet.data[packet.length - 1] == '}');
        packets.emplace_back(packet.data, static_cast<size_t>(packet.length));
    });
    for (size_t nDone = 0; nDone < nText && !cutter.Stopped(); nDone += nPiece) {
        const size_t n = std::min(nPiece, nText - nDone);
        char* pRoom = cutter.BeginAppend(static_cast<int>(n));
        FUZZ_CHECK(pRoom != nullptr);
        std::memcpy(pRoom, pText + nDone, n);
        cutter.EndAppend(static_cast<int>(n));
    }
    cutter.Finish();
    FUZZ_CHECK(packets == expected);
    const int64_t nLeft = static_cast<int64_t>(whole.Bytes().size());
    CPacketCutter::Stop stop;
    FUZZ_CHECK(cutter.GetStop(stop) == (nLeft > 0));
    if (nLeft > 0) {
        FUZZ_CHECK(stop.nOffset == static_cast<int64_t>(nText) - nLeft);
        FUZZ_CHECK(stop.nLine == 1 + std::count(pText, pText + stop.nOffset, '\n'));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int32_t nInit = PickSize(data[0]);
    const int32_t nStep = PickSize(data[1]);
    const size_t nChunk = data[2];
    std::string strText(reinterpret_cast<const char*>(data + 3), size - 3);
    if (data[0] & 0x80) {
        std::string strLong;
        for (const char c : strText) {
            if (c == '\x01' && strLong.size() < kStretchLimit)
                strLong.append(kStretch, '.');
            else
                strLong.push_back(c);
        }
        strText.swap(strLong);
    }
    const char* pText = strText.data();
    const size_t nText = strText.size();

    CLNBuffer buffer(nInit, nStep);
    CBraceModel model(nInit, nStep);
    FUZZ_CHECK(buffer.Capacity() == nInit && buffer.Length() == 0);
    // Refused appends change nothing.
    FUZZ_CHECK(buffer.Append(nullptr, 5) == 0 && buffer.Append(pText, 0) == 0);

    if (data[1] & 0x80) {
        CheckPiecewiseCutting(pText, nText, std::max<size_t>(nChunk, 1));
        return 0;
    }
    if (nChunk == 0) {
        if (nText > 0)
            FUZZ_CHECK(buffer.Append(pText, static_cast<int>(nText)) == static_cast<int>(nText));
        model.Append(pText, static_cast<int64_t>(nText));
        Drain(buffer, model);
        return 0;
    }
    for (size_t nDone = 0; nDone < nText; nDone += nChunk) {
        const size_t n = nText - nDone < nChunk ? nText - nDone : nChunk;
        FUZZ_CHECK(buffer.Append(pText + nDone, static_cast<int>(n)) == static_cast<int>(n));
        model.Append(pText + nDone, static_cast<int64_t>(n));
        CheckSame(buffer, model);
        Drain(buffer, model);
    }
    return 0;
}
