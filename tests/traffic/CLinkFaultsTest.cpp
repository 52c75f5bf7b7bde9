#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet/CDeviceMessage.h"
#include "text/TovrikTexts.h"
#include "traffic/CCorruption.h"
#include "traffic/CLinkFaults.h"
#include "traffic/CTrafficConfig.h"

namespace {

constexpr uint64_t kSeed = 99;

CLinkFaults Faults(const std::string& strKey, const std::string& strText)
{
    CTrafficConfig::Settings settings;
    uint32_t nKeys = 0;
    const CStatus read = CTrafficConfig::Set(strKey, strText, settings, nKeys);
    EXPECT_TRUE(read.IsOk()) << strKey << " " << strText << ": " << read.Message();
    return settings.faults;
}

std::vector<CLinkFaults::Decision> Decide(const CLinkFaults& faults, size_t nPackets, uint64_t nDevice = 5)
{
    std::vector<CLinkFaults::Decision> decisions;
    bool bInBurst = false;
    for (size_t i = 0; i < nPackets; ++i)
        decisions.push_back(faults.Decide({kSeed, nDevice, i}, bInBurst, 1500000000));
    return decisions;
}

}  // namespace

TEST(CLinkFaultsTest, LossHasItsRateAndItsBurstsTheirMeanLength)
{
    const size_t nPackets = 200000;
    // Each on its own (runs of 1/(1 - P) on average), or in runs of N: of 1
    // too, where every loss is followed by a kept datagram.
    const struct {
        const char* pszLoss;
        double dShare;
        double dRun;
    } cases[] = {{"10%", 0.10, 1 / 0.9}, {"10%,burst=4", 0.10, 4}, {"20%,burst=1", 0.20, 1}, {"50%,burst=1", 0.5, 1}};
    for (const auto& c : cases) {
        size_t nLost = 0;
        size_t nRuns = 0;
        bool bLast = false;
        for (const CLinkFaults::Decision& decision : Decide(Faults("loss", c.pszLoss), nPackets)) {
            nLost += decision.bDrop;
            nRuns += decision.bDrop && !bLast;
            bLast = decision.bDrop;
        }
        EXPECT_NEAR(static_cast<double>(nLost) / nPackets, c.dShare, 0.005) << c.pszLoss;
        EXPECT_NEAR(static_cast<double>(nLost) / static_cast<double>(nRuns), c.dRun, c.dRun * 0.05) << c.pszLoss;
    }
    size_t nLost = 0;
    for (const CLinkFaults::Decision& decision : Decide(Faults("loss", "100%"), 100))
        nLost += decision.bDrop;
    EXPECT_EQ(nLost, 100u);
}

TEST(CLinkFaultsTest, CopiesDelaysAndHoldsComeAtTheirRatesWithTheirDistributions)
{
    const size_t nPackets = 100000;
    CLinkFaults faults = Faults("duplicate", "2%,delay=20ms");
    faults.reorder = Faults("reorder", "5%").reorder;
    faults.jitter = Faults("jitter", "exponential(4ms)").jitter;
    size_t nCopies = 0;
    size_t nHeld = 0;
    double dJitterMs = 0;
    for (const CLinkFaults::Decision& decision : Decide(faults, nPackets)) {
        EXPECT_FALSE(decision.bDrop);
        nCopies += decision.bDuplicate;
        if (decision.bDuplicate) {
            ASSERT_EQ(decision.nCopyDelayNs, 20000000);
        }
        nHeld += decision.bReordered;
        // Held back by the default (here 1.5 s) on top of the jitter.
        dJitterMs += static_cast<double>(decision.nDelayNs - (decision.bReordered ? 1500000000 : 0)) / 1e6;
        ASSERT_TRUE(decision.bJittered || decision.nDelayNs == 0);
    }
    EXPECT_NEAR(static_cast<double>(nCopies) / nPackets, 0.02, 0.002);
    EXPECT_NEAR(static_cast<double>(nHeld) / nPackets, 0.05, 0.003);
    EXPECT_NEAR(dJitterMs / nPackets, 4.0, 0.1);

    const CLinkFaults normal = Faults("jitter", "normal(1ms,2ms)");
    int64_t nLeast = INT64_MAX;
    for (const CLinkFaults::Decision& decision : Decide(normal, 10000))
        nLeast = std::min(nLeast, decision.nDelayNs);
    EXPECT_EQ(nLeast, 0) << "a normal delay below zero counts as none";
}

// Every kind spoils the status message as it says; break-json's is never
// JSON however often it is drawn, a flip changes one bit, a truncation
// keeps at least a byte.
TEST(CLinkFaultsTest, CorruptionSpoilsEachDatagramAsItsKindSays)
{
    const std::string message = TovrikTexts::kStatusMessage;
    CDeviceMessage parser;
    // Whether the bytes are JSON: the make-up step parses them strictly.
    const auto isJson = [&parser](const std::string& bytes) {
        std::string written;
        return parser.MakeUp(Packet{bytes.data(), static_cast<int32_t>(bytes.size())}, written);
    };
    ASSERT_TRUE(isJson(message));
    std::vector<CLinkFaults::Decision> decisions = Decide(Faults("corrupt", "100%"), 3000, 11);
    int nKinds[8] = {};
    for (const CLinkFaults::Decision& decision : decisions) {
        ASSERT_NE(decision.nCorrupt, CLinkFaults::kNoCorruption);
        ++nKinds[decision.nCorrupt];
        std::string bytes = message;
        bytes.resize(CCorruption::Apply(decision.nCorrupt, decision.nCorruptBits, &bytes[0], bytes.size()));
        const bool bJson = isJson(bytes);
        switch (decision.nCorrupt) {
        case CLinkFaults::kTruncate:
            ASSERT_GE(bytes.size(), 1u);
            ASSERT_LT(bytes.size(), message.size());
            ASSERT_EQ(bytes, message.substr(0, bytes.size()));
            break;
        case CLinkFaults::kFlip: {
            ASSERT_EQ(bytes.size(), message.size());
            int nBits = 0;
            for (size_t i = 0; i < bytes.size(); ++i)
                nBits += __builtin_popcount(static_cast<unsigned char>(bytes[i] ^ message[i]));
            ASSERT_EQ(nBits, 1);
            break;
        }
        default:
            ASSERT_EQ(bytes.size(), message.size());
            ASSERT_FALSE(bJson) << bytes;
            break;
        }
    }
    for (const CLinkFaults::Corruption nKind : {CLinkFaults::kTruncate, CLinkFaults::kFlip, CLinkFaults::kBreakJson})
        EXPECT_NEAR(nKinds[nKind], 1000, 120) << CLinkFaults::CorruptionName(nKind);

    // Nested values and escapes: the broken byte is always structural.
    const std::string nested = "{\"a\":[1,{\"b\":\"x,\\\"}:\"}],\"c\":{}}";
    for (uint64_t nBits = 0; nBits < 4000; nBits += 7) {
        std::string bytes = nested;
        CCorruption::Apply(CLinkFaults::kBreakJson, nBits * 0x9E3779B97F4A7C15ULL, &bytes[0], bytes.size());
        ASSERT_FALSE(isJson(bytes)) << bytes;
        ASSERT_EQ(bytes.substr(13, 8), nested.substr(13, 8)) << "the string is left alone";
    }
}
