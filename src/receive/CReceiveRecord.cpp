#include "receive/CReceiveRecord.h"

#include "figures/CJsonWriter.h"

namespace {

void AppendAge(std::string& out, const CAgeFigures::Figures& age)
{
    CJsonWriter members(out);
    members.Count("count", age.nCount);
    members.Signed("min", age.nMin);
    members.Signed("p50", age.nP50);
    members.Signed("max", age.nMax);
    members.End();
}

void AppendSecond(std::string& out, const CReceiveRecord::Second& second)
{
    CJsonWriter members(out);
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
    CJsonWriter members(out);
    members.Text("from", malformed.strFrom);
    members.Count("bytes", malformed.nLength);
    members.Text("reason", malformed.strReason);
    members.Text("first_bytes", malformed.strShown);
    members.End();
}

void AppendDevice(std::string& out, const CReceiveRecord::Device& device)
{
    CJsonWriter members(out);
    members.Text("imei", device.strImei);
    members.Count("datagrams", device.nDatagrams);
    members.Count("device_info", device.nInfo);
    members.Count("lost", device.nLost);
    members.Count("duplicates", device.nDuplicates);
    members.Count("reordered", device.nReordered);
    members.End();
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
    CJsonWriter members(out);
    members.Text("listen", strListen);
    members.Text("counter", strCounter);
    members.Text("answer", strAnswer);
    members.Text("answer_delay", strAnswerDelay);
    members.Number("answer_drop", dAnswerDrop, "%.6g");
    if (dCapacity > 0) {
        members.Number("capacity", dCapacity, "%.6g");
        members.Count("capacity_queue", nCapacityQueue);
    }
    members.Count("seed", nSeed);
    members.Signed("receive_buffer_bytes", nReceiveBufferBytes);
    members.Number("seconds", dSeconds);
    members.Signed("start_unix_ms", nStartUnixMs);
    members.Texts("command_line", commandLine);
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
    members.Count("answers_over_capacity", nAnswersOverCapacity);
    members.Count("answer_errors", nAnswerErrors);
    if (handshakes)
        CRunRecord::AppendHandshakes(members.Key("dtls_handshakes"), *handshakes);
    AppendAge(members.Key("age_s"), age);
    members.Number("cpu_seconds", usage.dCpuSeconds);
    members.Signed("max_rss_kb", usage.nMaxRssKb);
    CJsonWriter::Array(members.Key("series"), series, AppendSecond);
    CJsonWriter::Array(members.Key("malformed_first"), malformed, AppendMalformed);
    CJsonWriter::Array(members.Key("devices_most_lost"), devices, AppendDevice);
    CVerdict::AppendJson(members.Key("thresholds"), verdicts);
    members.End();
    out.push_back('\n');
    return out;
}
