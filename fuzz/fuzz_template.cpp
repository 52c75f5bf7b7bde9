// Fleet templates. For any packet and any values, the datagram a template
// writes is what the direct rewrite writes (members set, then the step's own
// writing), and a template exists exactly when the rewrite succeeds.
//
// Input: byte 0 picks the step (bits 0-1), whether the IMEI is set (bit 2),
// an IMEI given as JSON text (bit 3) and the counter member (bits 4-5: none,
// "n", "packnum", "time"); byte 1 the IMEI's width; bytes 2-9 the IMEI, bytes
// 10-17 the counter's step; byte 18 whether the time is invalid (bit 0) and
// which of three members take generated values (bits 1-3: "v" numbers,
// "humidity" numbers or texts, "cmd" texts), their decimals from bits 4-7
// (15: the member's own), their values the IMEI's and the step's bytes as
// doubles and a text; the rest is the packet.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "packet/CMessageTemplate.h"
#include "packet/CTemplateBuilder.h"

namespace {

uint64_t Read64(const uint8_t* p)
{
    uint64_t n = 0;
    std::memcpy(&n, p, sizeof n);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CTemplateBuilder builder;
    constexpr size_t kHeader = 19;
    if (size < kHeader)
        return 0;
    static const char* const kCounters[] = {"", "n", "packnum", "time"};
    CTemplateBuilder::Rule rule;
    rule.nKind = static_cast<CMessageTemplate::Kind>((data[0] & 3) % 3);
    rule.bSetImei = (data[0] & 4) != 0;
    rule.strCounter = kCounters[(data[0] >> 4) & 3];
    CMessageTemplate::Values values;
    values.nImeiWidth = data[1] % 24;
    values.nImei = Read64(data + 2);
    values.nCounterStep = Read64(data + 10);
    values.time = data[18] & 1 ? "Invalid DateTime" : "2026-12-08 10:00:00";
    if (data[0] & 8)
        values.imeiJson = "[\"by-file\",1]";
    static const char* const kMembers[] = {"v", "humidity", "cmd"};
    const int nDecimals = (data[18] >> 4) == 15 ? -1 : (data[18] >> 4);
    for (int i = 0; i < 3; ++i) {
        if (!(data[18] & (2 << i)))
            continue;
        CTemplateBuilder::Vary vary;
        vary.strMember = kMembers[i];
        vary.bNumbers = i < 2;
        vary.bTexts = i > 0;
        vary.nDecimals = nDecimals;
        rule.vary.push_back(vary);
    }
    CMessageTemplate::Generated generated[3];
    std::memcpy(&generated[0].dNumber, data + 2, sizeof(double));
    std::memcpy(&generated[1].dNumber, data + 10, sizeof(double));
    generated[1].text = "\\\"a\\u0001";
    generated[2].text = "push_alarm";
    values.pGenerated = generated;
    const std::string strPacket(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    const Packet packet{strPacket.data(), static_cast<int32_t>(strPacket.size())};

    CMessageTemplate made;
    const bool bMade = builder.Make(packet, rule, made);
    std::string direct;
    const bool bDirect = builder.RewriteDirect(packet, rule, values, direct);
    FUZZ_CHECK(bMade == bDirect);
    if (bMade) {
        const std::string spliced = made.Text(values);
        FUZZ_CHECK(spliced == direct);
        FUZZ_CHECK(spliced.size() <= made.Capacity(values));
    }
    return 0;
}
