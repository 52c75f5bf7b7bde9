// The fleet's per-datagram work on the 904-byte status message: the packet is
// parsed once into a CMessageTemplate (stamp step, the device's IMEI, the
// "packnum" counter), and each datagram is then spliced from it: the IMEI,
// the count and the second's time text written between the copied bytes.
// Beside it, the same datagram rewritten through the JSON document
// (RewriteDirect), which is what the splice saves.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "packet/CMessageTemplate.h"
#include "packet/CTemplateBuilder.h"
#include "text/TovrikTexts.h"
#include "time/CDateTime.h"

namespace {

const Packet kStatus{TovrikTexts::kStatusMessage, static_cast<int32_t>(std::strlen(TovrikTexts::kStatusMessage))};
constexpr uint64_t kImeiFirst = 860000000000000;
constexpr int kImeiWidth = 15;
constexpr uint64_t kDevices = 10000;

CTemplateBuilder::Rule StatusRule()
{
    CTemplateBuilder::Rule rule;
    rule.nKind = CMessageTemplate::Kind::kStamp;
    rule.bSetImei = true;
    rule.strCounter = "packnum";
    return rule;
}

// The time text of a second, as the stamp step writes it (a fleet formats it
// once per second for all its devices).
std::string TimeText()
{
    return CDateTime(std::time(nullptr)).Format("%Y-%m-%d %H:%M:%S");
}

void BM_SpliceStatus(benchmark::State& state)
{
    CTemplateBuilder builder;
    CMessageTemplate status;
    if (!builder.Make(kStatus, StatusRule(), status)) {
        state.SkipWithError("the status message gave no template");
        return;
    }
    const std::string strTime = TimeText();
    CMessageTemplate::Values values;
    values.nImei = kImeiFirst;
    values.nImeiWidth = kImeiWidth;
    values.time = strTime;
    // The splice must write what the JSON rewrite writes.
    std::string strDirect;
    if (!builder.RewriteDirect(kStatus, StatusRule(), values, strDirect) || strDirect != status.Text(values)) {
        state.SkipWithError("the splice differs from the rewrite through JSON");
        return;
    }
    std::vector<char> buffer(status.Capacity(values));
    uint64_t nDatagram = 0;
    size_t nBytes = 0;
    for (auto _ : state) {
        // Every device in turn, each one count further per round.
        values.nImei = kImeiFirst + nDatagram % kDevices;
        values.nCounterStep = nDatagram / kDevices;
        nBytes += status.Write(values, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
        ++nDatagram;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(nBytes));
}

void BM_RewriteDirectStatus(benchmark::State& state)
{
    CTemplateBuilder builder;
    const CTemplateBuilder::Rule rule = StatusRule();
    const std::string strTime = TimeText();
    CMessageTemplate::Values values;
    values.nImeiWidth = kImeiWidth;
    values.time = strTime;
    std::string strOut;
    uint64_t nDatagram = 0;
    for (auto _ : state) {
        values.nImei = kImeiFirst + nDatagram % kDevices;
        values.nCounterStep = nDatagram / kDevices;
        if (!builder.RewriteDirect(kStatus, rule, values, strOut))
            state.SkipWithError("rewrite failed");
        benchmark::DoNotOptimize(strOut.data());
        ++nDatagram;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_SpliceStatus);
BENCHMARK(BM_RewriteDirectStatus);
