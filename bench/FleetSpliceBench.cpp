// The fleet's per-datagram work on the 904-byte status message: the packet is
// parsed once into a CMessageTemplate (stamp step, the device's IMEI, the
// "packnum" counter), and each datagram is then spliced from it: the IMEI,
// the count and the second's time text written between the copied bytes.
// Beside it, the same datagram rewritten through the JSON document
// (RewriteDirect), which is what the splice saves, and the splice with three
// generated values (--vary), each datagram's values drawn and written; and
// what the link's faults add to a datagram (its fate drawn, held back by its
// jitter and sent later).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "packet/CMessageTemplate.h"
#include "packet/CTemplateBuilder.h"
#include "text/TovrikTexts.h"
#include "time/CDateTime.h"
#include "fleet/CHeldDatagrams.h"
#include "traffic/CTrafficConfig.h"
#include "traffic/CTrafficModel.h"

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

// Three members with generated values: a walk, a sine with noise and a
// choice of texts.
void BM_SpliceStatusVaried(benchmark::State& state)
{
    CTrafficConfig config;
    for (const char* pszRule : {"humidity=walk(30,40,0.2)", "temperature=sine(20,45,10min,0.5)",
                                "cmd=pick(push_msg,push_alarm)"}) {
        CTrafficConfig::Vary vary;
        CStatus read = CTrafficConfig::ReadVary(pszRule, vary);
        if (read.IsOk())
            read = config.AddVary(vary);
        if (!read.IsOk()) {
            state.SkipWithError(read.Message().c_str());
            return;
        }
    }
    const CTrafficModel model(config, 1, kDevices, 0);
    CTemplateBuilder::Rule rule = StatusRule();
    for (const CTrafficConfig::Vary& vary : config.vary) {
        CTemplateBuilder::Vary slot;
        slot.strMember = vary.strMember;
        slot.bNumbers = vary.generator.Numeric();
        slot.bTexts = vary.generator.HasChoices();
        rule.vary.push_back(slot);
    }
    CTemplateBuilder builder;
    CMessageTemplate status;
    if (!builder.Make(kStatus, rule, status)) {
        state.SkipWithError("the status message gave no template");
        return;
    }
    const std::string strTime = TimeText();
    std::vector<CMessageTemplate::Generated> generated(model.Rules());
    std::vector<double> states(kDevices * model.States(), std::nan(""));
    CMessageTemplate::Values values;
    values.nImeiWidth = kImeiWidth;
    values.time = strTime;
    values.pGenerated = generated.data();
    std::vector<char> buffer;
    uint64_t nDatagram = 0;
    for (auto _ : state) {
        const uint64_t nDevice = nDatagram % kDevices;
        values.nImei = kImeiFirst + nDevice;
        values.nCounterStep = nDatagram / kDevices;
        model.Values(nDevice, values.nCounterStep, static_cast<int64_t>(values.nCounterStep) * 1000000000,
                     states.data() + nDevice * model.States(), generated.data());
        const size_t nCapacity = status.Capacity(values);
        if (buffer.size() < nCapacity)
            buffer.resize(nCapacity);
        status.Write(values, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
        ++nDatagram;
    }
    state.SetItemsProcessed(state.iterations());
}

// Loss, copies and a jitter of up to 2 ms for a datagram every 100 us (10,000
// devices once a second): each one's fate drawn, the kept ones held with
// their bytes and sent (popped) at their instants.
void BM_LinkFaults(benchmark::State& state)
{
    CTrafficConfig config;
    for (const auto& [pszKey, pszText] : {std::pair{"loss", "1%,burst=2"}, std::pair{"duplicate", "1%"},
                                          std::pair{"jitter", "uniform(0ms,2ms)"}}) {
        const CStatus status = CTrafficConfig::Set(pszKey, pszText, config.start, config.nStartKeys);
        if (!status.IsOk()) {
            state.SkipWithError(status.Message().c_str());
            return;
        }
    }
    const CTrafficModel model(config, 1, kDevices, 0);
    std::vector<CTrafficModel::Device> devices(kDevices);
    const std::string datagram = TovrikTexts::kStatusMessage;
    CHeldDatagrams held;
    uint64_t nDatagram = 0;
    for (auto _ : state) {
        const uint64_t nDevice = nDatagram % kDevices;
        const int64_t nNowNs = static_cast<int64_t>(nDatagram) * 100000;
        const CLinkFaults::Decision decision =
            model.Decide(nDevice, nDatagram / kDevices, nNowNs, devices[nDevice]);
        if (!decision.bDrop) {
            // A run without --replies holds no match key.
            held.Hold(static_cast<uint32_t>(nDevice), datagram.data(), datagram.size(), nNowNs + decision.nDelayNs,
                      std::nullopt);
            if (decision.bDuplicate)
                held.Hold(static_cast<uint32_t>(nDevice), datagram.data(), datagram.size(),
                          nNowNs + decision.nDelayNs, std::nullopt);
        }
        while (held.NextNs() <= nNowNs) {
            benchmark::DoNotOptimize(held.Data(held.Top()));
            held.Pop();
        }
        ++nDatagram;
    }
    state.SetItemsProcessed(state.iterations());
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
BENCHMARK(BM_SpliceStatusVaried);
BENCHMARK(BM_LinkFaults);
BENCHMARK(BM_RewriteDirectStatus);
