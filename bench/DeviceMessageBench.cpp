// The JSON work per message on the 904-byte status message: the import
// readings (once per imported message), the stamp step and the make-up step
// (once per datagram; the 10 ms mode needs up to a hundred a second).
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <string>

#include "packet/CDeviceMessage.h"
#include "text/TovrikTexts.h"
#include "time/CDateTime.h"

namespace {

const Packet kStatus{TovrikTexts::kStatusMessage, static_cast<int32_t>(std::strlen(TovrikTexts::kStatusMessage))};

void BM_ReadImport(benchmark::State& state)
{
    CDeviceMessage message;
    for (auto _ : state) {
        const CDeviceMessage::ImportReading reading = message.ReadImport(kStatus);
        benchmark::DoNotOptimize(reading);
        if (!reading.bKeep || !reading.bHasKey)
            state.SkipWithError("the status message was not read as kept and indexed");
    }
    state.SetBytesProcessed(state.iterations() * kStatus.length);
}

void BM_StampStep(benchmark::State& state)
{
    CDeviceMessage message;
    std::string strOut;
    const std::time_t nNow = std::time(nullptr);
    for (auto _ : state) {
        // The date-time value is made per datagram, as the worker does.
        if (!message.Stamp(kStatus, CDateTime(nNow), strOut))
            state.SkipWithError("stamp step failed");
        benchmark::DoNotOptimize(strOut.data());
    }
    state.SetBytesProcessed(state.iterations() * kStatus.length);
}

void BM_MakeUpStep(benchmark::State& state)
{
    CDeviceMessage message;
    std::string strOut;
    for (auto _ : state) {
        if (!message.MakeUp(kStatus, strOut))
            state.SkipWithError("make-up step failed");
        benchmark::DoNotOptimize(strOut.data());
    }
    state.SetBytesProcessed(state.iterations() * kStatus.length);
}

}  // namespace

BENCHMARK(BM_ReadImport);
BENCHMARK(BM_StampStep);
BENCHMARK(BM_MakeUpStep);
