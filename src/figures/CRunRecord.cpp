#include "figures/CRunRecord.h"

#include <simdjson.h>

#include "figures/CJsonWriter.h"

namespace {

// 9999-12-31 23:59:59.999 UTC.
constexpr int64_t kLastUnixMs = 253402300799999;

void AppendBuckets(std::string& out, const std::vector<CLatencyHistogram::Bucket>& buckets)
{
    CJsonWriter::Array(out, buckets, [](std::string& text, const CLatencyHistogram::Bucket& bucket) {
        text += "[" + std::to_string(bucket.nFromNs) + "," + std::to_string(bucket.nToNs) + "," +
                std::to_string(bucket.nCount) + "]";
    });
}

// The replies' counts as members; the whole run's also the evicted and the
// untracked.
void AppendCounts(CJsonWriter& members, const CReplyStats::Counts& counts, bool bWhole)
{
    members.Count("matched", counts.nMatched);
    members.Count("lost", counts.nLost);
    members.Count("late", counts.nLate);
    members.Count("duplicate", counts.nDuplicate);
    members.Count("unmatched", counts.nUnmatched);
    members.Count("out_of_order", counts.nOutOfOrder);
    if (bWhole) {
        members.Count("evicted", counts.nEvicted);
        members.Count("untracked", counts.nUntracked);
    }
}

void AppendQuantiles(std::string& out, const CLatencyHistogram::Figures& figures)
{
    CJsonWriter members(out);
    members.Number("p50", figures.dP50Ms);
    members.Number("p99", figures.dP99Ms);
    members.Number("max", figures.dMaxMs);
    members.Number("min", figures.dMinMs);
    members.End();
}

// The count of figures read from a file, from its histogram, and their
// least duration where the file had none (-1): files written before the
// least was kept give the lowest bucket's start.
void Complete(CLatencyHistogram::Figures& figures, const std::vector<CLatencyHistogram::Bucket>& buckets)
{
    figures.nCount = 0;
    for (const CLatencyHistogram::Bucket& bucket : buckets)
        figures.nCount += bucket.nCount;
    if (figures.dMinMs < 0)
        figures.dMinMs = buckets.empty() ? 0.0 : static_cast<double>(buckets.front().nFromNs) / 1e6;
}

void AppendSecond(std::string& out, const CRunRecord::Second& second, bool bReplies, bool bPaced)
{
    CJsonWriter members(out);
    members.Count("t", second.nT);
    members.Signed("devices", second.nDevices);
    members.Count("sent", second.nSent);
    members.Count("send_errors", second.nErrors);
    members.Count("replies", second.nReplies);
    members.Number("p50_ms", second.lateness.dP50Ms);
    members.Number("p99_ms", second.lateness.dP99Ms);
    members.Number("max_ms", second.lateness.dMaxMs);
    members.Count("online", second.nOnline);
    members.Flag("behind", second.bBehind);
    if (bPaced)
        members.Number("target", second.dTarget, "%.1f");
    if (bReplies) {
        members.Number("rtt_p50_ms", second.rtt.dP50Ms);
        members.Number("rtt_p99_ms", second.rtt.dP99Ms);
        members.Number("rtt_max_ms", second.rtt.dMaxMs);
        AppendCounts(members, second.replies, false);
    }
    members.End();
}

void AppendRate(CJsonWriter& members, const char* pszKey, const std::optional<double>& dRate)
{
    if (dRate)
        members.Number(pszKey, *dRate, "%.6g");
    else
        members.Null(pszKey);
}

void AppendReplyMatching(std::string& out, const CRunRecord::ReplyMatching& matching);

void AppendCapacity(std::string& out, const CRunRecord::Capacity& capacity)
{
    CJsonWriter members(out);
    members.Number("from", capacity.dFrom, "%.6g");
    members.Number("to", capacity.dTo, "%.6g");
    members.Number("step_s", capacity.dStepSeconds, "%.6g");
    members.Number("settle_s", capacity.dSettleSeconds, "%.6g");
    AppendRate(members, "capacity", capacity.dCapacity);
    AppendRate(members, "crossed_at", capacity.dCrossedAt);
    if (capacity.crossed)
        CVerdict::AppendJson(members.Key("crossed"), {*capacity.crossed});
    else
        members.Null("crossed");
    AppendRate(members, "behind_at", capacity.dBehindAt);
    AppendRate(members, "required", capacity.dRequired);
    members.Flag("complete", capacity.bComplete);
    CJsonWriter::Array(members.Key("steps"), capacity.steps, [](std::string& text, const CRunRecord::CapacityStep& step) {
        CJsonWriter fields(text);
        fields.Number("rate", step.dRate, "%.6g");
        fields.Count("first_second", step.nFirstSecond);
        fields.Count("seconds", step.nSeconds);
        fields.Count("behind_seconds", step.nBehindSeconds);
        fields.Count("sent", step.nSent);
        fields.Count("send_errors", step.nErrors);
        AppendQuantiles(fields.Key("lateness_ms"), step.lateness);
        AppendBuckets(fields.Key("lateness_histogram_ns"), step.latenessHistogram);
        if (step.replies)
            AppendReplyMatching(fields.Key("reply_matching"), *step.replies);
        CVerdict::AppendJson(fields.Key("thresholds"), step.verdicts);
        fields.Flag("held", step.bHeld);
        fields.End();
    });
    members.End();
}

void AppendReplyMatching(std::string& out, const CRunRecord::ReplyMatching& matching)
{
    CJsonWriter members(out);
    members.Text("member", matching.strMember);
    members.Number("timeout_ms", static_cast<double>(matching.nTimeoutNs) / 1e6);
    AppendCounts(members, matching.counts, true);
    AppendQuantiles(members.Key("rtt_ms"), matching.rtt);
    AppendBuckets(members.Key("rtt_histogram_ns"), matching.rttHistogram);
    members.End();
}

}  // namespace

void CRunRecord::AppendHandshakes(std::string& out, const CHandshakeCounts& handshakes)
{
    CJsonWriter members(out);
    members.Count("started", handshakes.nStarted);
    members.Count("completed", handshakes.nCompleted);
    members.Count("resumed", handshakes.nResumed);
    {
        CJsonWriter failed(members.Key("failed"));
        for (size_t i = 0; i < CHandshakeCounts::kCauses; ++i)
            failed.Count(CHandshakeCounts::Name(i), handshakes.failed[i]);
        failed.End();
    }
    members.Count("retransmissions", handshakes.nRetransmissions);
    members.Count("unsent", handshakes.nUnsent);
    AppendQuantiles(members.Key("time_ms"), handshakes.time);
    AppendBuckets(members.Key("time_histogram_ns"), handshakes.timeHistogram);
    members.End();
}

namespace {

// Reads members of one file's objects; the first failure is kept, named by
// the member, and every later read answers a zero. An optional member that
// is missing reads as its default.
class CFieldReader {
public:
    bool Ok() const { return m_strError.empty(); }
    const std::string& Error() const { return m_strError; }
    void Fail(const std::string& strError)
    {
        if (m_strError.empty())
            m_strError = strError;
    }

    simdjson::dom::element Member(simdjson::dom::object object, const char* pszKey)
    {
        simdjson::dom::element value;
        if (Ok() && object[pszKey].get(value) != simdjson::SUCCESS)
            Fail(std::string("no \"") + pszKey + "\"");
        return value;
    }
    bool Has(simdjson::dom::object object, const char* pszKey)
    {
        simdjson::dom::element value;
        return Ok() && object[pszKey].get(value) == simdjson::SUCCESS;
    }
    uint64_t Unsigned(simdjson::dom::object object, const char* pszKey)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        uint64_t n = 0;
        if (Ok() && value.get_uint64().get(n) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not a count");
        return n;
    }
    uint64_t OptionalUnsigned(simdjson::dom::object object, const char* pszKey, uint64_t nDefault)
    {
        return Has(object, pszKey) ? Unsigned(object, pszKey) : nDefault;
    }
    int64_t Signed(simdjson::dom::object object, const char* pszKey)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        int64_t n = 0;
        if (Ok() && value.get_int64().get(n) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not an integer");
        return n;
    }
    double Number(simdjson::dom::object object, const char* pszKey)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        double d = 0;
        if (Ok() && value.get_double().get(d) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not a number");
        return d;
    }
    double OptionalNumber(simdjson::dom::object object, const char* pszKey, double dDefault)
    {
        return Has(object, pszKey) ? Number(object, pszKey) : dDefault;
    }
    bool Flag(simdjson::dom::object object, const char* pszKey)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        bool b = false;
        if (Ok() && value.get_bool().get(b) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not true or false");
        return b;
    }
    bool OptionalFlag(simdjson::dom::object object, const char* pszKey, bool bDefault)
    {
        return Has(object, pszKey) ? Flag(object, pszKey) : bDefault;
    }
    std::string_view String(simdjson::dom::object object, const char* pszKey)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        std::string_view text;
        if (Ok() && value.get_string().get(text) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not a string");
        return text;
    }
    // False, and nothing to walk, unless the member is an array.
    bool Array(simdjson::dom::object object, const char* pszKey, simdjson::dom::array& array)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        if (Ok() && value.get_array().get(array) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not an array");
        return Ok();
    }
    simdjson::dom::object Object(simdjson::dom::element value, const char* pszWhat)
    {
        simdjson::dom::object object;
        if (Ok() && value.get_object().get(object) != simdjson::SUCCESS)
            Fail(std::string(pszWhat) + " is not an object");
        return object;
    }

private:
    std::string m_strError;
};

// The quantiles AppendQuantiles wrote under pszKey.
void ReadQuantiles(CFieldReader& read, simdjson::dom::object object, const char* pszKey,
                   CLatencyHistogram::Figures& figures)
{
    const std::string strWhat = "\"" + std::string(pszKey) + "\"";
    const simdjson::dom::object quantiles = read.Object(read.Member(object, pszKey), strWhat.c_str());
    figures.dP50Ms = read.Number(quantiles, "p50");
    figures.dP99Ms = read.Number(quantiles, "p99");
    figures.dMaxMs = read.Number(quantiles, "max");
    figures.dMinMs = read.OptionalNumber(quantiles, "min", -1);
}

void ReadCounts(CFieldReader& read, simdjson::dom::object object, CReplyStats::Counts& counts, bool bWhole)
{
    counts.nMatched = read.Unsigned(object, "matched");
    counts.nLost = read.Unsigned(object, "lost");
    counts.nLate = read.Unsigned(object, "late");
    counts.nDuplicate = read.Unsigned(object, "duplicate");
    counts.nUnmatched = read.Unsigned(object, "unmatched");
    counts.nOutOfOrder = read.Unsigned(object, "out_of_order");
    if (bWhole) {
        counts.nEvicted = read.Unsigned(object, "evicted");
        counts.nUntracked = read.Unsigned(object, "untracked");
    }
}

void ReadSeries(CFieldReader& read, simdjson::dom::object object, CRunRecord& record)
{
    simdjson::dom::array series;
    if (!read.Array(object, "series", series))
        return;
    for (const simdjson::dom::element item : series) {
        const simdjson::dom::object entry = read.Object(item, "a \"series\" entry");
        CRunRecord::Second second;
        second.nT = read.Unsigned(entry, "t");
        second.nDevices = read.Signed(entry, "devices");
        second.nSent = read.Unsigned(entry, "sent");
        second.nErrors = read.Unsigned(entry, "send_errors");
        second.nReplies = read.Unsigned(entry, "replies");
        second.lateness.dP50Ms = read.Number(entry, "p50_ms");
        second.lateness.dP99Ms = read.Number(entry, "p99_ms");
        second.lateness.dMaxMs = read.Number(entry, "max_ms");
        second.nOnline = read.OptionalUnsigned(entry, "online", 0);
        second.bBehind = read.OptionalFlag(entry, "behind", false);
        second.dTarget = read.OptionalNumber(entry, "target", 0);
        if (read.Has(entry, "rtt_p50_ms")) {
            second.rtt.dP50Ms = read.Number(entry, "rtt_p50_ms");
            second.rtt.dP99Ms = read.Number(entry, "rtt_p99_ms");
            second.rtt.dMaxMs = read.Number(entry, "rtt_max_ms");
            ReadCounts(read, entry, second.replies, false);
        }
        if (read.Ok() && (second.nT == 0 || second.nT > static_cast<uint64_t>(CRunRecord::kMaxSeconds)))
            read.Fail("a \"series\" entry's \"t\" is not a second of a run");
        if (!read.Ok())
            return;
        record.series.push_back(second);
    }
}

void ReadCommandLine(CFieldReader& read, simdjson::dom::object object, CRunRecord& record)
{
    simdjson::dom::array commandLine;
    if (!read.Array(object, "command_line", commandLine))
        return;
    for (const simdjson::dom::element item : commandLine) {
        std::string_view argument;
        if (item.get_string().get(argument) != simdjson::SUCCESS) {
            read.Fail("\"command_line\" holds something other than strings");
            return;
        }
        record.commandLine.emplace_back(argument);
    }
}

void ReadHistogram(CFieldReader& read, simdjson::dom::object object, const char* pszKey,
                   std::vector<CLatencyHistogram::Bucket>& buckets)
{
    simdjson::dom::array histogram;
    if (!read.Array(object, pszKey, histogram))
        return;
    for (const simdjson::dom::element item : histogram) {
        simdjson::dom::array triple;
        CLatencyHistogram::Bucket bucket;
        if (item.get_array().get(triple) != simdjson::SUCCESS || triple.size() != 3 ||
            triple.at(0).get_uint64().get(bucket.nFromNs) != simdjson::SUCCESS ||
            triple.at(1).get_uint64().get(bucket.nToNs) != simdjson::SUCCESS ||
            triple.at(2).get_uint64().get(bucket.nCount) != simdjson::SUCCESS || bucket.nToNs <= bucket.nFromNs) {
            read.Fail(std::string("a \"") + pszKey + "\" bucket is not [from, to, count]");
            return;
        }
        buckets.push_back(bucket);
    }
}

void ReadAbort(CFieldReader& read, simdjson::dom::object object, CRunRecord& record)
{
    if (!read.Has(object, "aborted"))
        return;
    const simdjson::dom::object aborted = read.Object(read.Member(object, "aborted"), "\"aborted\"");
    CRunRecord::Abort abort;
    abort.verdict.strExpression = std::string(read.String(aborted, "threshold"));
    abort.verdict.bOk = false;
    if (read.Ok() && !read.Member(aborted, "value").is_null())
        abort.verdict.value = read.Number(aborted, "value");
    abort.dWindowSeconds = read.Number(aborted, "window_s");
    abort.nSecond = read.Unsigned(aborted, "second");
    abort.nUnixMs = read.Signed(aborted, "unix_ms");
    if (read.Ok())
        record.abort = abort;
}

void ReadTraffic(CFieldReader& read, simdjson::dom::object object, CRunRecord& record)
{
    if (!read.Has(object, "faults"))
        return;
    record.bTraffic = true;
    record.nSeed = read.OptionalUnsigned(object, "seed", 0);
    const simdjson::dom::object faults = read.Object(read.Member(object, "faults"), "\"faults\"");
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        record.faults.counts[i] = read.OptionalUnsigned(faults, CFaultCounts::Name(i), 0);
    record.faults.nHeldAtStop = read.OptionalUnsigned(object, "held_at_stop", 0);
}

void ReadVerdicts(CFieldReader& read, simdjson::dom::object object, std::vector<CVerdict>& verdictsRead)
{
    simdjson::dom::array verdicts;
    if (!read.Has(object, "thresholds") || !read.Array(object, "thresholds", verdicts))
        return;
    for (const simdjson::dom::element item : verdicts) {
        const simdjson::dom::object entry = read.Object(item, "a \"thresholds\" entry");
        CVerdict verdict;
        verdict.strExpression = std::string(read.String(entry, "expression"));
        if (read.Ok() && !read.Member(entry, "value").is_null())
            verdict.value = read.Number(entry, "value");
        verdict.bOk = read.Flag(entry, "ok");
        if (!read.Ok())
            return;
        verdictsRead.push_back(verdict);
    }
}

void ReadReplyMatching(CFieldReader& read, simdjson::dom::object object,
                       std::optional<CRunRecord::ReplyMatching>& replyMatching)
{
    if (!read.Has(object, "reply_matching"))
        return;
    const simdjson::dom::object matchingObject =
        read.Object(read.Member(object, "reply_matching"), "\"reply_matching\"");
    CRunRecord::ReplyMatching matching;
    matching.strMember = std::string(read.String(matchingObject, "member"));
    matching.nTimeoutNs = static_cast<int64_t>(read.Number(matchingObject, "timeout_ms") * 1e6 + 0.5);
    ReadCounts(read, matchingObject, matching.counts, true);
    ReadQuantiles(read, matchingObject, "rtt_ms", matching.rtt);
    ReadHistogram(read, matchingObject, "rtt_histogram_ns", matching.rttHistogram);
    Complete(matching.rtt, matching.rttHistogram);
    if (read.Ok())
        replyMatching = std::move(matching);
}

void ReadHandshakes(CFieldReader& read, simdjson::dom::object object, std::optional<CHandshakeCounts>& handshakes)
{
    if (!read.Has(object, "dtls_handshakes"))
        return;
    const simdjson::dom::object dtls = read.Object(read.Member(object, "dtls_handshakes"), "\"dtls_handshakes\"");
    CHandshakeCounts counts;
    counts.nStarted = read.Unsigned(dtls, "started");
    counts.nCompleted = read.Unsigned(dtls, "completed");
    counts.nResumed = read.Unsigned(dtls, "resumed");
    const simdjson::dom::object failed = read.Object(read.Member(dtls, "failed"), "\"failed\"");
    for (size_t i = 0; i < CHandshakeCounts::kCauses; ++i)
        counts.failed[i] = read.OptionalUnsigned(failed, CHandshakeCounts::Name(i), 0);
    counts.nRetransmissions = read.Unsigned(dtls, "retransmissions");
    counts.nUnsent = read.Unsigned(dtls, "unsent");
    ReadQuantiles(read, dtls, "time_ms", counts.time);
    ReadHistogram(read, dtls, "time_histogram_ns", counts.timeHistogram);
    Complete(counts.time, counts.timeHistogram);
    if (read.Ok())
        handshakes = std::move(counts);
}

// A rate, or null.
std::optional<double> OptionalRate(CFieldReader& read, simdjson::dom::object object, const char* pszKey)
{
    if (!read.Ok() || read.Member(object, pszKey).is_null())
        return std::nullopt;
    return read.Number(object, pszKey);
}

void ReadCapacity(CFieldReader& read, simdjson::dom::object object, CRunRecord& record)
{
    if (!read.Has(object, "capacity"))
        return;
    const simdjson::dom::object search = read.Object(read.Member(object, "capacity"), "\"capacity\"");
    CRunRecord::Capacity capacity;
    capacity.dFrom = read.Number(search, "from");
    capacity.dTo = read.Number(search, "to");
    capacity.dStepSeconds = read.Number(search, "step_s");
    capacity.dSettleSeconds = read.Number(search, "settle_s");
    capacity.dCapacity = OptionalRate(read, search, "capacity");
    capacity.dCrossedAt = OptionalRate(read, search, "crossed_at");
    capacity.dBehindAt = OptionalRate(read, search, "behind_at");
    capacity.dRequired = OptionalRate(read, search, "required");
    capacity.bComplete = read.OptionalFlag(search, "complete", true);
    simdjson::dom::array steps;
    if (!read.Array(search, "steps", steps))
        return;
    for (const simdjson::dom::element item : steps) {
        const simdjson::dom::object entry = read.Object(item, "a capacity step");
        CRunRecord::CapacityStep step;
        step.dRate = read.Number(entry, "rate");
        step.nFirstSecond = read.Unsigned(entry, "first_second");
        step.nSeconds = read.Unsigned(entry, "seconds");
        step.nBehindSeconds = read.Unsigned(entry, "behind_seconds");
        step.nSent = read.Unsigned(entry, "sent");
        step.nErrors = read.Unsigned(entry, "send_errors");
        ReadQuantiles(read, entry, "lateness_ms", step.lateness);
        ReadHistogram(read, entry, "lateness_histogram_ns", step.latenessHistogram);
        Complete(step.lateness, step.latenessHistogram);
        ReadReplyMatching(read, entry, step.replies);
        ReadVerdicts(read, entry, step.verdicts);
        step.bHeld = read.Flag(entry, "held");
        if (!read.Ok())
            return;
        capacity.steps.push_back(std::move(step));
    }
    // The threshold crossed is the first a step at that rate crossed.
    for (const CRunRecord::CapacityStep& step : capacity.steps) {
        for (const CVerdict& verdict : step.verdicts) {
            if (capacity.dCrossedAt && step.dRate == *capacity.dCrossedAt && !verdict.bOk && !capacity.crossed)
                capacity.crossed = verdict;
        }
    }
    if (read.Ok())
        record.capacity = std::move(capacity);
}

}  // namespace

void CRunRecord::Capacity::Conclude()
{
    dCapacity.reset();
    dCrossedAt.reset();
    crossed.reset();
    dBehindAt.reset();
    std::optional<double> dHeld;
    for (const CapacityStep& step : steps) {
        if (step.nBehindSeconds > 0) {
            dBehindAt = step.dRate;
            return;
        }
        if (step.bHeld)
            continue;
        if (!dCrossedAt || step.dRate < *dCrossedAt) {
            dCrossedAt = step.dRate;
            for (const CVerdict& verdict : step.verdicts) {
                if (!verdict.bOk) {
                    crossed = verdict;
                    break;
                }
            }
        }
    }
    for (const CapacityStep& step : steps) {
        if (step.bHeld && (!dCrossedAt || step.dRate < *dCrossedAt) && (!dHeld || step.dRate > *dHeld))
            dHeld = step.dRate;
    }
    dCapacity = dHeld;
}

CRunRecord CRunRecord::OfStep(const CapacityStep& step)
{
    CRunRecord record;
    record.dSeconds = static_cast<double>(step.nSeconds);
    record.nSent = step.nSent;
    record.nErrors = step.nErrors;
    record.lateness = step.lateness;
    record.latenessHistogram = step.latenessHistogram;
    record.replyMatching = step.replies;
    return record;
}

uint64_t CRunRecord::BehindSeconds() const
{
    uint64_t nBehind = 0;
    for (const Second& second : series)
        nBehind += second.bBehind ? 1 : 0;
    return nBehind;
}

std::string CRunRecord::Json() const
{
    std::string out;
    out.reserve(512 + series.size() * 128);
    CJsonWriter members(out);
    members.Count("devices", nDevices);
    members.Count("first_device", nFirstDevice);
    members.Count("fleet_devices", nFleetDevices);
    members.Signed("mode", nMode);
    members.Signed("threads", nThreads);
    members.Number("seconds", dSeconds);
    members.Count("sent", nSent);
    members.Count("send_errors", nErrors);
    members.Count("replies", nReplies);
    members.Count("reply_bytes", nReplyBytes);
    AppendQuantiles(members.Key("lateness_ms"), lateness);
    members.Number("cpu_seconds", usage.dCpuSeconds);
    members.Signed("max_rss_kb", usage.nMaxRssKb);
    const bool bReplies = replyMatching.has_value();
    CJsonWriter::Array(members.Key("series"), series, [bReplies, this](std::string& text, const Second& second) {
        AppendSecond(text, second, bReplies, bPaced);
    });
    members.Count("behind_seconds", BehindSeconds());
    members.Flag("paced", bPaced);
    members.Texts("command_line", commandLine);
    members.Signed("start_unix_ms", nStartUnixMs);
    members.Text("shard", shard.Text());
    AppendBuckets(members.Key("lateness_histogram_ns"), latenessHistogram);
    CVerdict::AppendJson(members.Key("thresholds"), verdicts);
    if (replyMatching)
        AppendReplyMatching(members.Key("reply_matching"), *replyMatching);
    if (capacity)
        AppendCapacity(members.Key("capacity"), *capacity);
    if (abort) {
        CJsonWriter aborted(members.Key("aborted"));
        aborted.Text("threshold", abort->verdict.strExpression);
        if (abort->verdict.value)
            aborted.Number("value", *abort->verdict.value, "%.6g");
        else
            aborted.Null("value");
        aborted.Number("window_s", abort->dWindowSeconds, "%.0f");
        aborted.Count("second", abort->nSecond);
        aborted.Signed("unix_ms", abort->nUnixMs);
        aborted.End();
    }
    if (bTraffic) {
        members.Count("seed", nSeed);
        CJsonWriter faultMembers(members.Key("faults"));
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
            faultMembers.Count(CFaultCounts::Name(i), faults.counts[i]);
        faultMembers.End();
        members.Count("held_at_stop", faults.nHeldAtStop);
    }
    if (handshakes)
        AppendHandshakes(members.Key("dtls_handshakes"), *handshakes);
    members.End();
    out.push_back('\n');
    return out;
}

CStatus CRunRecord::Read(std::string_view json, CRunRecord& record)
{
    record = CRunRecord();
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    const simdjson::error_code nParse = parser.parse(json.data(), json.size()).get(root);
    if (nParse != simdjson::SUCCESS)
        return CStatus::Error(std::string("not a stats file (not JSON: ") + simdjson::error_message(nParse) + ")");
    CFieldReader read;
    const simdjson::dom::object object = read.Object(root, "the file");
    record.nDevices = read.Unsigned(object, "devices");
    record.nFirstDevice = read.OptionalUnsigned(object, "first_device", 0);
    record.nFleetDevices = read.Unsigned(object, "fleet_devices");
    record.nMode = static_cast<int>(read.Signed(object, "mode"));
    record.nThreads = static_cast<int>(read.OptionalUnsigned(object, "threads", 1));
    record.dSeconds = read.Number(object, "seconds");
    record.nSent = read.Unsigned(object, "sent");
    record.nErrors = read.Unsigned(object, "send_errors");
    record.nReplies = read.Unsigned(object, "replies");
    record.nReplyBytes = read.OptionalUnsigned(object, "reply_bytes", 0);
    record.bPaced = read.OptionalFlag(object, "paced", false);
    const simdjson::dom::object lateness = read.Object(read.Member(object, "lateness_ms"), "\"lateness_ms\"");
    record.lateness.dMaxMs = read.Number(lateness, "max");
    record.lateness.dP50Ms = read.OptionalNumber(lateness, "p50", 0);
    record.lateness.dP99Ms = read.OptionalNumber(lateness, "p99", 0);
    record.lateness.dMinMs = read.OptionalNumber(lateness, "min", -1);
    record.usage.dCpuSeconds = read.Number(object, "cpu_seconds");
    record.usage.nMaxRssKb = read.Signed(object, "max_rss_kb");
    ReadSeries(read, object, record);
    ReadCommandLine(read, object, record);
    record.nStartUnixMs = read.Signed(object, "start_unix_ms");
    if (read.Ok() && (record.nStartUnixMs < 0 || record.nStartUnixMs > kLastUnixMs))
        read.Fail("\"start_unix_ms\" is not an instant between 1970 and 9999");
    if (read.Ok() && !(record.dSeconds >= 0 && record.dSeconds <= kMaxSeconds))
        read.Fail("\"seconds\" is not the length of a run");
    const simdjson::dom::element shard = read.Member(object, "shard");
    std::string_view shardText;
    if (read.Ok() &&
        (shard.get_string().get(shardText) != simdjson::SUCCESS || !CShard::Parse(shardText, record.shard)))
        read.Fail("\"shard\" is not K/M");
    ReadHistogram(read, object, "lateness_histogram_ns", record.latenessHistogram);
    Complete(record.lateness, record.latenessHistogram);
    ReadVerdicts(read, object, record.verdicts);
    ReadReplyMatching(read, object, record.replyMatching);
    ReadCapacity(read, object, record);
    ReadAbort(read, object, record);
    ReadTraffic(read, object, record);
    ReadHandshakes(read, object, record.handshakes);
    if (!read.Ok())
        return CStatus::Error("not a stats file (" + read.Error() + ")");
    return CStatus();
}
