#include "report/CStatsMerger.h"

#include <simdjson.h>

#include <algorithm>
#include <map>
#include <new>

#include "load/CFileReader.h"

namespace {

constexpr double kNsPerMs = 1e6;
// 9999-12-31 23:59:59.999 UTC.
constexpr int64_t kLastUnixMs = 253402300799999;

// A series entry with the second it counts from the file's start (1 for the
// first).
struct Entry {
    uint64_t nT = 0;
    CRunReport::Second second;
};

// Reads members of one file's objects; the first failure is kept, named by
// the member, and every later read answers a zero.
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
    uint64_t Unsigned(simdjson::dom::object object, const char* pszKey)
    {
        const simdjson::dom::element value = Member(object, pszKey);
        uint64_t n = 0;
        if (Ok() && value.get_uint64().get(n) != simdjson::SUCCESS)
            Fail(std::string("\"") + pszKey + "\" is not a count");
        return n;
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

// "K/M" with K < M.
bool ReadShard(std::string_view text, uint32_t& nShard, uint32_t& nShards)
{
    const size_t nSlash = text.find('/');
    if (nSlash == std::string_view::npos)
        return false;
    auto read = [](std::string_view digits, uint32_t& n) {
        if (digits.empty() || digits.size() > 9)
            return false;
        n = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + static_cast<uint32_t>(c - '0');
        }
        return true;
    };
    return read(text.substr(0, nSlash), nShard) && read(text.substr(nSlash + 1), nShards) && nShard < nShards;
}

// The quantiles as the fleet computes them: the middle of the bucket that
// holds the rank (the value itself where a bucket is one nanosecond wide),
// never above the maximum.
void Quantiles(const std::vector<CRunReport::Bucket>& buckets, CRunReport& report)
{
    uint64_t nCount = 0;
    for (const CRunReport::Bucket& bucket : buckets)
        nCount += bucket.nCount;
    report.dP50Ms = 0;
    report.dP99Ms = 0;
    if (nCount == 0)
        return;
    const uint64_t nP50 = (nCount + 1) / 2;
    const uint64_t nP99 = nCount - nCount / 100;
    uint64_t nSeen = 0;
    bool bP50 = false;
    for (const CRunReport::Bucket& bucket : buckets) {
        nSeen += bucket.nCount;
        const uint64_t nWidth = bucket.nToNs - bucket.nFromNs;
        const double dMiddleMs =
            (static_cast<double>(bucket.nFromNs) + (nWidth == 1 ? 0.0 : static_cast<double>(nWidth) / 2)) /
            kNsPerMs;
        if (!bP50 && nSeen >= nP50) {
            report.dP50Ms = std::min(dMiddleMs, report.dMaxMs);
            bP50 = true;
        }
        if (nSeen >= nP99) {
            report.dP99Ms = std::min(dMiddleMs, report.dMaxMs);
            break;
        }
    }
}

}  // namespace

struct CStatsMerger::File {
    CRunReport::Shard shard;
    uint64_t nDevices = 0;
    uint64_t nFleetDevices = 0;
    int nMode = 0;
    uint64_t nSent = 0;
    uint64_t nErrors = 0;
    uint64_t nReplies = 0;
    double dMaxMs = 0;
    double dCpuSeconds = 0;
    int64_t nMaxRssKb = 0;
    std::vector<Entry> series;
    std::vector<CRunReport::Bucket> histogram;
};

CStatsMerger::CStatsMerger() = default;
CStatsMerger::~CStatsMerger() = default;

CStatus CStatsMerger::AddFile(const std::string& strPath)
{
    const std::string strTooLarge =
        strPath + ": larger than a stats file can be (" + std::to_string(kMaxFileBytes) + " bytes)";
    CFileReader reader;
    const CStatus opened = reader.Open(strPath);
    if (!opened.IsOk())
        return CStatus::Error(strPath + ": " + opened.Message(), opened.Code());
    if (reader.Size() > kMaxFileBytes)
        return CStatus::Error(strTooLarge);
    std::string text;
    try {
        char piece[65536];
        for (;;) {
            int64_t nRead = 0;
            const CStatus read = reader.Read(piece, sizeof piece, nRead);
            if (!read.IsOk())
                return CStatus::Error(strPath + ": " + read.Message(), read.Code());
            if (nRead == 0)
                break;
            text.append(piece, static_cast<size_t>(nRead));
            if (static_cast<int64_t>(text.size()) > kMaxFileBytes)
                return CStatus::Error(strTooLarge);
        }
    } catch (const std::bad_alloc&) {
        return CStatus::Error(strPath + ": not enough memory to read it");
    }
    return AddText(strPath, text);
}

CStatus CStatsMerger::AddText(const std::string& strName, std::string_view json)
{
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    const simdjson::error_code nParse = parser.parse(json.data(), json.size()).get(root);
    if (nParse != simdjson::SUCCESS)
        return CStatus::Error(strName + ": not a stats file (not JSON: " + simdjson::error_message(nParse) + ")");
    CFieldReader read;
    File file;
    const simdjson::dom::object object = read.Object(root, "the file");
    file.shard.strSource = strName;
    file.nDevices = read.Unsigned(object, "devices");
    file.nFleetDevices = read.Unsigned(object, "fleet_devices");
    file.nMode = static_cast<int>(read.Signed(object, "mode"));
    file.shard.dSeconds = read.Number(object, "seconds");
    file.nSent = read.Unsigned(object, "sent");
    file.nErrors = read.Unsigned(object, "send_errors");
    file.nReplies = read.Unsigned(object, "replies");
    const simdjson::dom::object lateness = read.Object(read.Member(object, "lateness_ms"), "\"lateness_ms\"");
    file.dMaxMs = read.Number(lateness, "max");
    file.dCpuSeconds = read.Number(object, "cpu_seconds");
    file.nMaxRssKb = read.Signed(object, "max_rss_kb");
    simdjson::dom::array series;
    if (read.Array(object, "series", series)) {
        for (const simdjson::dom::element item : series) {
            const simdjson::dom::object second = read.Object(item, "a \"series\" entry");
            Entry entry;
            entry.nT = read.Unsigned(second, "t");
            entry.second.nDevices = read.Signed(second, "devices");
            entry.second.nSent = read.Unsigned(second, "sent");
            entry.second.nErrors = read.Unsigned(second, "send_errors");
            entry.second.nReplies = read.Unsigned(second, "replies");
            entry.second.dP50Ms = read.Number(second, "p50_ms");
            entry.second.dP99Ms = read.Number(second, "p99_ms");
            entry.second.dMaxMs = read.Number(second, "max_ms");
            if (read.Ok() && (entry.nT == 0 || entry.nT > static_cast<uint64_t>(CStatsMerger::kMaxSeconds)))
                read.Fail("a \"series\" entry's \"t\" is not a second of a run");
            if (!read.Ok())
                break;
            file.series.push_back(entry);
        }
    }
    simdjson::dom::array commandLine;
    if (read.Array(object, "command_line", commandLine)) {
        for (const simdjson::dom::element item : commandLine) {
            std::string_view argument;
            if (item.get_string().get(argument) != simdjson::SUCCESS) {
                read.Fail("\"command_line\" holds something other than strings");
                break;
            }
            file.shard.commandLine.emplace_back(argument);
        }
    }
    file.shard.nStartUnixMs = read.Signed(object, "start_unix_ms");
    if (read.Ok() && (file.shard.nStartUnixMs < 0 || file.shard.nStartUnixMs > kLastUnixMs))
        read.Fail("\"start_unix_ms\" is not an instant between 1970 and 9999");
    if (read.Ok() && !(file.shard.dSeconds >= 0 && file.shard.dSeconds <= CStatsMerger::kMaxSeconds))
        read.Fail("\"seconds\" is not the length of a run");
    std::string_view shard;
    const simdjson::dom::element shardValue = read.Member(object, "shard");
    if (read.Ok() && (shardValue.get_string().get(shard) != simdjson::SUCCESS ||
                      !ReadShard(shard, file.shard.nShard, file.shard.nShards)))
        read.Fail("\"shard\" is not K/M");
    simdjson::dom::array histogram;
    if (read.Array(object, "lateness_histogram_ns", histogram)) {
        for (const simdjson::dom::element item : histogram) {
            simdjson::dom::array triple;
            CRunReport::Bucket bucket;
            if (item.get_array().get(triple) != simdjson::SUCCESS || triple.size() != 3 ||
                triple.at(0).get_uint64().get(bucket.nFromNs) != simdjson::SUCCESS ||
                triple.at(1).get_uint64().get(bucket.nToNs) != simdjson::SUCCESS ||
                triple.at(2).get_uint64().get(bucket.nCount) != simdjson::SUCCESS || bucket.nToNs <= bucket.nFromNs) {
                read.Fail("a \"lateness_histogram_ns\" bucket is not [from, to, count]");
                break;
            }
            file.histogram.push_back(bucket);
        }
    }
    if (!read.Ok()) {
        return CStatus::Error(strName + ": not a stats file (" + read.Error() + ")");
    }
    m_files.push_back(std::move(file));
    return CStatus();
}

CStatus CStatsMerger::Merge(CRunReport& report) const
{
    if (m_files.empty()) {
        return CStatus::Error("no stats file to make a report of");
    }
    std::vector<const File*> files;
    for (const File& file : m_files)
        files.push_back(&file);
    std::stable_sort(files.begin(), files.end(),
                     [](const File* a, const File* b) { return a->shard.nShard < b->shard.nShard; });
    const File& first = *files.front();
    for (size_t i = 1; i < files.size(); ++i) {
        const File& file = *files[i];
        const std::string strBoth = first.shard.strSource + " and " + file.shard.strSource;
        if (file.shard.nShards != first.shard.nShards)
            return CStatus::Error(strBoth + " are not shards of one fleet (of " +
                                  std::to_string(first.shard.nShards) + " and of " +
                                  std::to_string(file.shard.nShards) + " shards)");
        if (file.nFleetDevices != first.nFleetDevices)
            return CStatus::Error(strBoth + " are not shards of one fleet (of " +
                                  std::to_string(first.nFleetDevices) + " and of " +
                                  std::to_string(file.nFleetDevices) + " devices)");
        if (file.shard.nShard == files[i - 1]->shard.nShard)
            return CStatus::Error(files[i - 1]->shard.strSource + " and " + file.shard.strSource +
                                  " are both shard " + std::to_string(file.shard.nShard) + "/" +
                                  std::to_string(file.shard.nShards));
    }

    CRunReport merged;
    merged.nFleetDevices = first.nFleetDevices;
    merged.nMode = first.nMode;
    merged.nStartUnixMs = first.shard.nStartUnixMs;
    int64_t nEndMs = first.shard.nStartUnixMs;
    uint32_t nNextShard = 0;
    std::map<int64_t, CRunReport::Second> seconds;
    // The weights of the seconds' p50 and p99: their datagrams.
    std::map<int64_t, double> weights;
    std::map<std::pair<uint64_t, uint64_t>, uint64_t> buckets;
    for (const File* pFile : files) {
        const File& file = *pFile;
        merged.shards.push_back(file.shard);
        for (; nNextShard < file.shard.nShard; ++nNextShard)
            merged.missingShards.push_back(nNextShard);
        nNextShard = file.shard.nShard + 1;
        merged.nDevices += file.nDevices;
        if (file.nMode != merged.nMode)
            merged.nMode = -1;
        merged.nStartUnixMs = std::min(merged.nStartUnixMs, file.shard.nStartUnixMs);
        nEndMs = std::max(nEndMs, file.shard.nStartUnixMs + static_cast<int64_t>(file.shard.dSeconds * 1000 + 0.5));
        merged.nSent += file.nSent;
        merged.nErrors += file.nErrors;
        merged.nReplies += file.nReplies;
        merged.dMaxMs = std::max(merged.dMaxMs, file.dMaxMs);
        merged.dCpuSeconds += file.dCpuSeconds;
        merged.nMaxRssKb = std::max(merged.nMaxRssKb, file.nMaxRssKb);
        for (const Entry& entry : file.series) {
            // Second t covers [start + t - 1, start + t): it counts for the
            // wall-clock second nearest to its beginning.
            const int64_t nSecond =
                (file.shard.nStartUnixMs + static_cast<int64_t>(entry.nT - 1) * 1000 + 500) / 1000;
            CRunReport::Second& sum = seconds[nSecond];
            const double dWeight = static_cast<double>(entry.second.nSent + entry.second.nErrors);
            sum.nUnixSecond = nSecond;
            sum.nDevices += entry.second.nDevices;
            sum.nSent += entry.second.nSent;
            sum.nErrors += entry.second.nErrors;
            sum.nReplies += entry.second.nReplies;
            sum.dP50Ms += entry.second.dP50Ms * dWeight;
            sum.dP99Ms += entry.second.dP99Ms * dWeight;
            sum.dMaxMs = std::max(sum.dMaxMs, entry.second.dMaxMs);
            weights[nSecond] += dWeight;
        }
        for (const CRunReport::Bucket& bucket : file.histogram)
            buckets[{bucket.nFromNs, bucket.nToNs}] += bucket.nCount;
    }
    for (; nNextShard < first.shard.nShards; ++nNextShard)
        merged.missingShards.push_back(nNextShard);
    merged.dSeconds = static_cast<double>(nEndMs - merged.nStartUnixMs) / 1000;

    if (!seconds.empty()) {
        const int64_t nFirst = seconds.begin()->first;
        const int64_t nLast = seconds.rbegin()->first;
        if (nLast - nFirst >= kMaxSeconds)
            return CStatus::Error("the files' seconds are more than " + std::to_string(kMaxSeconds) +
                                  " s apart: not one run");
        // Seconds no shard counted stay in the series, as zeros.
        merged.series.reserve(static_cast<size_t>(nLast - nFirst + 1));
        for (int64_t nSecond = nFirst; nSecond <= nLast; ++nSecond) {
            const auto found = seconds.find(nSecond);
            CRunReport::Second second;
            second.nUnixSecond = nSecond;
            if (found != seconds.end()) {
                second = found->second;
                const double dWeight = weights[nSecond];
                second.dP50Ms = dWeight > 0 ? second.dP50Ms / dWeight : 0;
                second.dP99Ms = dWeight > 0 ? second.dP99Ms / dWeight : 0;
            }
            merged.series.push_back(second);
        }
    }
    for (const auto& bucket : buckets) {
        if (bucket.second > 0)
            merged.histogram.push_back({bucket.first.first, bucket.first.second, bucket.second});
    }
    Quantiles(merged.histogram, merged);
    report = std::move(merged);
    return CStatus();
}
