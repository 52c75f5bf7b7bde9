// The traffic options' grammar and what it makes. For any text a reader
// either refuses, saying why, or gives settings that hold their promises:
// generators draw the same value for the same key and stay in their bounds,
// and every generated number is written as the compact writer writes it;
// delays are never negative; a scenario's stages come in order and its
// model keeps a device offline only forward in time.
//
// Input: byte 0 picks the reader (mod 5): a generator, a --vary rule, a
// delay, one of the options' keys (byte 1 picks which) or a scenario file;
// bytes 1-8 are the seed of the draws; the rest is the text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "packet/CJsonText.h"
#include "traffic/CDelay.h"
#include "traffic/CGenerator.h"
#include "traffic/CScenario.h"
#include "traffic/CTrafficModel.h"

namespace {

uint64_t Read64(const uint8_t* p)
{
    uint64_t n = 0;
    std::memcpy(&n, p, sizeof n);
    return n;
}

// Every form of a generated number against the writer's rules.
void CheckWritten(double dValue)
{
    using Form = CMessageTemplate::Form;
    CMessageTemplate::Generated value;
    value.dNumber = dValue;
    for (int nDecimals = 0; nDecimals <= CMessageTemplate::kMaxDecimals; ++nDecimals) {
        char text[CMessageTemplate::kMaxGeneratedText + 1];
        char* pEnd = CMessageTemplate::WriteGenerated(text, Form::kDecimal, nDecimals, value);
        FUZZ_CHECK(pEnd - text <= static_cast<ptrdiff_t>(CMessageTemplate::kMaxGeneratedText));
        *pEnd = '\0';
        const double dRead = std::strtod(text, nullptr);
        char again[CJsonText::kMaxDoubleText];
        const char* pAgain = CJsonText::WriteDouble(again, dRead);
        FUZZ_CHECK(std::string(again, static_cast<size_t>(pAgain - again)) == text);
        FUZZ_CHECK(std::fabs(dRead - dValue) <= 0.5000001 * std::pow(10.0, -nDecimals) + std::fabs(dValue) * 1e-15);
        pEnd = CMessageTemplate::WriteGenerated(text, Form::kDecimalString, nDecimals, value);
        *pEnd = '\0';
        const std::string quoted(text);
        FUZZ_CHECK(quoted.size() >= 3 && quoted.front() == '"' && quoted.back() == '"');
        const size_t nPoint = quoted.find('.');
        FUZZ_CHECK(nDecimals == 0 ? nPoint == std::string::npos : quoted.size() - 2 - nPoint == size_t(nDecimals));
        FUZZ_CHECK(std::fabs(std::strtod(text + 1, nullptr) - dValue) <=
                   0.5000001 * std::pow(10.0, -nDecimals) + std::fabs(dValue) * 1e-15);
    }
    char text[CMessageTemplate::kMaxGeneratedText + 1];
    *CMessageTemplate::WriteGenerated(text, Form::kInteger, 0, value) = '\0';
    FUZZ_CHECK(std::strtoll(text, nullptr, 10) == std::llround(dValue));
}

void CheckGenerator(const CGenerator& generator, uint64_t nSeed)
{
    double dLow = 0;
    double dHigh = 0;
    const bool bBounded = generator.Bounded(dLow, dHigh);
    double dState = std::nan("");
    double dAgain = std::nan("");
    for (uint64_t i = 0; i < 8; ++i) {
        const CRandom::Key key{nSeed, nSeed % 7, i};
        const CMessageTemplate::Generated value = generator.Value(key, 3, static_cast<double>(i) * 0.7, &dState);
        const CMessageTemplate::Generated same = generator.Value(key, 3, static_cast<double>(i) * 0.7, &dAgain);
        FUZZ_CHECK(value.dNumber == same.dNumber && value.text == same.text);
        FUZZ_CHECK(std::isfinite(value.dNumber) && std::fabs(value.dNumber) <= 1e15);
        FUZZ_CHECK(!bBounded || (value.dNumber >= dLow && value.dNumber <= dHigh));
        FUZZ_CHECK(generator.HasChoices() || value.text.empty());
        if (generator.Numeric())
            CheckWritten(value.dNumber);
    }
}

void CheckScenario(const std::string& strText, uint64_t nSeed)
{
    CTrafficConfig config;
    const CStatus read = CScenario::ReadText("f.json", strText, config);
    FUZZ_CHECK(read.IsOk() || (read.IsInvalid() && read.Message().rfind("f.json: ", 0) == 0));
    if (!read.IsOk())
        return;
    for (size_t i = 1; i < config.stages.size(); ++i)
        FUZZ_CHECK(config.stages[i - 1].nAtNs <= config.stages[i].nAtNs);
    const CTrafficModel model(config, nSeed, 1 + nSeed % 1000, 1000000000);
    for (uint64_t k = 0; k < 4; ++k) {
        CTrafficModel::Device device;
        for (int64_t t = 0; t < int64_t{600} * 1000000000; t += 7000000000) {
            const double dShare = model.OnlineShare(t);
            FUZZ_CHECK(dShare >= 0 && dShare <= 1);
            const CTrafficModel::Gap gap = model.Offline(k, t, device);
            FUZZ_CHECK(gap.nUntilNs >= t);
            FUZZ_CHECK((gap.nCause == CTrafficModel::Cause::kOnline) == (gap.nUntilNs == t));
            const CLinkFaults::Decision decision = model.Decide(k, static_cast<uint64_t>(t), t, device);
            FUZZ_CHECK(decision.nDelayNs >= 0 && decision.nCopyDelayNs >= 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kHeader = 9;
    if (size < kHeader)
        return 0;
    const uint64_t nSeed = Read64(data + 1);
    const std::string strText(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    // A refusal is a usage error that names the text as given.
    const auto refused = [&strText](const CStatus& status) {
        return status.IsInvalid() && status.Message().rfind("'" + strText + "' ", 0) == 0;
    };
    switch (data[0] % 5) {
    case 0: {
        CGenerator generator;
        const CStatus read = CGenerator::Read(strText, generator);
        FUZZ_CHECK(read.IsOk() || refused(read));
        if (read.IsOk())
            CheckGenerator(generator, nSeed);
        break;
    }
    case 1: {
        CTrafficConfig::Vary vary;
        const CStatus read = CTrafficConfig::ReadVary(strText, vary);
        if (read.IsOk()) {
            FUZZ_CHECK(!vary.strMember.empty() && vary.strMember != "IMEI" && vary.strMember != "time");
            FUZZ_CHECK(vary.nDecimals >= -1 && vary.nDecimals <= CMessageTemplate::kMaxDecimals);
            CheckGenerator(vary.generator, nSeed);
        } else {
            FUZZ_CHECK(refused(read));
        }
        break;
    }
    case 2: {
        CDelay delay;
        const CStatus read = CDelay::Read(strText, delay);
        if (!read.IsOk()) {
            FUZZ_CHECK(refused(read));
            break;
        }
        CDelay again;
        FUZZ_CHECK(CDelay::Read(delay.Text(), again).IsOk() && again.Text() == delay.Text());
        for (uint64_t i = 0; i < 8; ++i) {
            const int64_t nNs = delay.Draw(nSeed * (i + 1), ~nSeed + i);
            FUZZ_CHECK(nNs >= 0);
            FUZZ_CHECK(delay.GetKind() != CDelay::Kind::kFixed || nNs == delay.MeanNs());
            FUZZ_CHECK(nNs == again.Draw(nSeed * (i + 1), ~nSeed + i));
        }
        break;
    }
    case 3: {
        const std::vector<const char*>& keys = CTrafficConfig::Keys();
        CTrafficConfig::Settings settings;
        uint32_t nKeys = 0;
        const CStatus set = CTrafficConfig::Set(keys[nSeed % keys.size()], strText, settings, nKeys);
        const bool bSet = set.IsOk();
        FUZZ_CHECK(bSet == (nKeys != 0));
        FUZZ_CHECK(bSet || refused(set));
        if (!bSet)
            break;
        bool bInBurst = false;
        for (uint64_t i = 0; i < 16; ++i) {
            const CLinkFaults::Decision decision =
                settings.faults.Decide(CRandom::Key{nSeed, 1, i}, bInBurst, 1500000000);
            FUZZ_CHECK(!decision.bDrop || settings.faults.loss.dProbability > 0);
            FUZZ_CHECK(decision.nCorrupt == CLinkFaults::kNoCorruption ||
                       (decision.nCorrupt & settings.faults.corrupt.nKinds) == decision.nCorrupt);
        }
        break;
    }
    default:
        CheckScenario(strText, nSeed);
        break;
    }
    return 0;
}
