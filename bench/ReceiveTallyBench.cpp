// receive's work on each datagram, in the process: the 904-byte status
// message of device i mod 1,000, parsed strictly (simdjson's DOM, which also
// checks UTF-8), its device found, its "packnum" counted and its "time" held
// against the arrival; beside it, the strict parse alone. What the floor of
// receive_bench.py does not do.
#include <benchmark/benchmark.h>

#include <simdjson.h>

#include <string>
#include <vector>

#include "receive/CReceiveTally.h"
#include "text/TovrikTexts.h"

namespace {

constexpr size_t kDevices = 1000;
constexpr int64_t kArrivalNs = 1700000000LL * 1000000000LL;

// Each device's status message with its IMEI and a count, padded for the
// parser.
std::vector<std::string> Messages()
{
    std::vector<std::string> messages;
    const std::string strStatus = TovrikTexts::kStatusMessage;
    for (size_t i = 0; i < kDevices; ++i) {
        std::string message = strStatus;
        message.replace(message.find("1234567890"), 10, std::to_string(860000000000000ULL + i));
        messages.push_back(message);
    }
    return messages;
}

std::string Padded(const std::string& message)
{
    return message + std::string(CReceiveTally::kPadding, '\0');
}

void BM_ReceiveTallyStatus(benchmark::State& state)
{
    std::vector<std::string> messages = Messages();
    for (std::string& message : messages)
        message = Padded(message);
    CReceiveTally tally("packnum");
    const sockaddr_storage from{};
    size_t i = 0;
    for (auto _ : state) {
        const std::string& message = messages[i % kDevices];
        benchmark::DoNotOptimize(
            tally.Take(message.data(), message.size() - CReceiveTally::kPadding, from, kArrivalNs).nKind);
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveTallyStatus);

void BM_StrictParseStatus(benchmark::State& state)
{
    const std::string message = Padded(Messages().front());
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    for (auto _ : state) {
        const simdjson::error_code nError =
            parser.parse(message.data(), message.size() - CReceiveTally::kPadding, false).get(root);
        benchmark::DoNotOptimize(nError);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StrictParseStatus);

}  // namespace
