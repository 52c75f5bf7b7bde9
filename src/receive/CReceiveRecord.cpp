#include "receive/CReceiveRecord.h"

#include <cinttypes>
#include <cstdio>

#include "packet/CJsonText.h"
#include "text/CUtf8.h"

namespace {

// A JSON object's members, written one after another.
class CJsonMembers {
public:
    explicit CJsonMembers(std::string& out) : m_out(out) { m_out.push_back('{'); }
    void End() { m_out.push_back('}'); }

    // The key, ready for its value.
    std::string& Key(const char* pszKey)
    {
        if (!m_bFirst)
            m_out.push_back(',');
        m_bFirst = false;
        CJsonText::AppendKey(m_out, pszKey);
        return m_out;
    }
    void Count(const char* pszKey, uint64_t nValue) { Key(pszKey) += std::to_string(nValue); }
    void Signed(const char* pszKey, int64_t nValue) { Key(pszKey) += std::to_string(nValue); }
    void Number(const char* pszKey, double dValue, const char* pszFormat = "%.3f")
    {
        char text[64];
        std::snprintf(text, sizeof text, pszFormat, dValue);
        Key(pszKey) += text;
    }
    void Text(const char* pszKey, const std::string& strValue) { CJsonText::AppendString(Key(pszKey), CUtf8::Valid(strValue)); }
    void Flag(const char* pszKey, bool bValue) { Key(pszKey) += bValue ? "true" : "false"; }

private:
    std::string& m_out;
    bool m_bFirst = true;
};

void AppendAge(std::string& out, const CAgeFigures::Figures& age)
{
    CJsonMembers members(out);
    members.Count("count", age.nCount);
    members.Signed("min", age.nMin);
    members.Signed("p50", age.nP50);
    members.Signed("max", age.nMax);
    members.End();
}

void AppendSecond(std::string& out, const CReceiveRecord::Second& second)
{
    CJsonMembers members(out);
    members.Count("t", second.nT);
    members.Count("datagrams", second.nDatagrams);
    members.Count("malformed", second.nMalformed);
    members.Count("lost", second.nLost);
    members.Count("duplicates", second.nDuplicates);
    members.Count("reordered", second.nReordered);
    members.Count("kernel_drops", second.nKernelDrops);
    members.Count("answers", second.nAnswers);
    members.Count("devices", second.nDevices);
    AppendAge(members.Key("age_s"), second.age);
    members.End();
}

void AppendMalformed(std::string& out, const CReceiveRecord::Malformed& malformed)
{
    CJsonMembers members(out);
    members.Text("from", malformed.strFrom);
    members.Count("bytes", malformed.nLength);
    members.Text("reason", malformed.strReason);
    members.Text("first_bytes", malformed.strShown);
    members.End();
}

void AppendDevice(std::string& out, const CReceiveRecord::Device& device)
{
    CJsonMembers members(out);
    members.Text("imei", device.strImei);
    members.Count("datagrams", device.nDatagrams);
    members.Count("device_info", device.nInfo);
    members.Count("lost", device.nLost);
    members.Count("duplicates", device.nDuplicates);
    members.Count("reordered", device.nReordered);
    members.End();
}

void AppendVerdict(std::string& out, const CRunRecord::Verdict& verdict)
{
    CJsonMembers members(out);
    members.Text("expression", verdict.strExpression);
    members.Number("value", verdict.dValue, "%.6g");
    members.Flag("ok", verdict.bOk);
    members.End();
}

// An array of items, each written by append.
template <typename Item>
void AppendArray(std::string& out, const std::vector<Item>& items, void (*append)(std::string&, const Item&))
{
    out.push_back('[');
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out.push_back(',');
        append(out, items[i]);
    }
    out.push_back(']');
}

void AppendArgument(std::string& out, const std::string& strArgument)
{
    CJsonText::AppendString(out, CUtf8::Valid(strArgument));
}

}  // namespace

double CReceiveRecord::Loss() const
{
    return nExpected > 0 ? static_cast<double>(nLost) / static_cast<double>(nExpected) : 0.0;
}

double CReceiveRecord::Rate() const
{
    return dSeconds > 0 ? static_cast<double>(nDatagrams) / dSeconds : 0.0;
}

std::string CReceiveRecord::Json() const
{
    std::string out;
    out.reserve(1024 + series.size() * 200);
    CJsonMembers members(out);
    members.Text("listen", strListen);
    members.Text("counter", strCounter);
    members.Text("answer", strAnswer);
    members.Text("answer_delay", strAnswerDelay);
    members.Number("answer_drop", dAnswerDrop, "%.6g");
    members.Count("seed", nSeed);
    members.Signed("receive_buffer_bytes", nReceiveBufferBytes);
    members.Number("seconds", dSeconds);
    members.Signed("start_unix_ms", nStartUnixMs);
    AppendArray(members.Key("command_line"), commandLine, AppendArgument);
    members.Count("datagrams", nDatagrams);
    members.Count("bytes", nBytes);
    members.Number("datagrams_per_second", Rate(), "%.1f");
    members.Count("devices", nDevices);
    members.Count("device_info", nDeviceInfo);
    members.Count("malformed", nMalformed);
    members.Count("without_imei", nWithoutImei);
    members.Count("without_counter", nWithoutCounter);
    members.Count("expected", nExpected);
    members.Count("lost", nLost);
    members.Number("loss", Loss(), "%.6g");
    members.Count("duplicates", nDuplicates);
    members.Count("reordered", nReordered);
    members.Count("unreadable_time", nUnreadableTime);
    if (bKernelDropsKnown)
        members.Count("kernel_drops", nKernelDrops);
    else
        members.Key("kernel_drops") += "null";
    members.Count("answers_sent", nAnswersSent);
    members.Count("answers_dropped", nAnswersDropped);
    members.Count("answers_not_queued", nAnswersNotQueued);
    members.Count("answer_errors", nAnswerErrors);
    AppendAge(members.Key("age_s"), age);
    members.Number("cpu_seconds", usage.dCpuSeconds);
    members.Signed("max_rss_kb", usage.nMaxRssKb);
    AppendArray(members.Key("series"), series, AppendSecond);
    AppendArray(members.Key("malformed_first"), malformed, AppendMalformed);
    AppendArray(members.Key("devices_most_lost"), devices, AppendDevice);
    AppendArray(members.Key("thresholds"), verdicts, AppendVerdict);
    members.End();
    out.push_back('\n');
    return out;
}
