// Cutting a whole input with the brace framing, as the loader does it: one
// Append of everything, then FindPacket/TakeFront until FindPacket answers 0.
// The sizes 1, 10 and 100 MB show whether the cost grows linearly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "packet/CLNBuffer.h"
#include "text/TovrikTexts.h"

namespace {

// Status messages, one per line (CR LF), each with its own packnum, until the
// text holds at least nBytes bytes.
std::string MessageLines(size_t nBytes)
{
    std::string strMessage = TovrikTexts::kStatusMessage;
    const size_t nPackNum = strMessage.find("12129");
    std::string strText;
    strText.reserve(nBytes + strMessage.size() + 2);
    char digits[8];
    for (unsigned n = 0; strText.size() < nBytes; ++n) {
        std::snprintf(digits, sizeof digits, "%05u", n % 100000);
        strMessage.replace(nPackNum, 5, digits);
        strText += strMessage;
        strText += "\r\n";
    }
    return strText;
}

// Cuts everything off a buffer that one Append filled; keeps nothing.
int64_t CutAll(CLNBuffer& buffer)
{
    int64_t nPackets = 0;
    for (int n = buffer.FindPacket(); n != 0; n = buffer.FindPacket()) {
        auto block = buffer.TakeFront(n);
        benchmark::DoNotOptimize(block.get());
        ++nPackets;
    }
    return nPackets;
}

// The FindPacket/TakeFront loop alone: the Append before it is not timed.
void BM_CutPackets(benchmark::State& state)
{
    const std::string strText = MessageLines(static_cast<size_t>(state.range(0)) * 1000000);
    int64_t nPackets = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto pBuffer = std::make_unique<CLNBuffer>();
        pBuffer->Append(strText.data(), static_cast<int>(strText.size()));
        state.ResumeTiming();
        nPackets = CutAll(*pBuffer);
        state.PauseTiming();
        pBuffer.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strText.size()));
    state.counters["packets"] = static_cast<double>(nPackets);
}

// The whole of it: a new buffer, one Append of everything, the cutting loop,
// the buffer's release.
void BM_AppendAndCut(benchmark::State& state)
{
    const std::string strText = MessageLines(static_cast<size_t>(state.range(0)) * 1000000);
    int64_t nPackets = 0;
    for (auto _ : state) {
        CLNBuffer buffer;
        buffer.Append(strText.data(), static_cast<int>(strText.size()));
        nPackets = CutAll(buffer);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(strText.size()));
    state.counters["packets"] = static_cast<double>(nPackets);
}

}  // namespace

BENCHMARK(BM_CutPackets)->ArgName("MB")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendAndCut)->ArgName("MB")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
