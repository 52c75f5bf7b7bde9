#include "receive/CReceiveTally.h"

#include <algorithm>
#include <ctime>

#include "net/CTargetAddress.h"
#include "packet/CJsonText.h"
#include "text/CPrintable.h"
#include "time/CCalendar.h"
#include "time/CLocalTime.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr size_t kShownBytes = 64;
const char kInfoCommand[] = "push_info";

int64_t FloorDiv(int64_t nValue, int64_t nDivisor)
{
    const int64_t nQuotient = nValue / nDivisor;
    return nValue % nDivisor < 0 ? nQuotient - 1 : nQuotient;
}

// A root member's value, the first one of that name.
bool Member(simdjson::dom::object object, std::string_view name, simdjson::dom::element& value)
{
    for (const simdjson::dom::key_value_pair member : object) {
        if (member.key == name) {
            value = member.value;
            return true;
        }
    }
    return false;
}

// A count as the fleet's --counter writes it: an integer from 0, or a
// string of 1 to 19 digits.
bool ReadCounter(simdjson::dom::element value, uint64_t& nCounter)
{
    if (value.get_uint64().get(nCounter) == simdjson::SUCCESS)
        return true;
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS || text.empty() || text.size() > 19)
        return false;
    nCounter = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        nCounter = nCounter * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool ReadDigits(std::string_view text, size_t nAt, size_t nCount, int& nValue)
{
    nValue = 0;
    for (size_t i = nAt; i < nAt + nCount; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        nValue = nValue * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD HH:MM:SS", the form the stamp step writes, as seconds of the
// local calendar since 1970-01-01 00:00:00.
bool ReadLocalSeconds(std::string_view text, int64_t& nSeconds)
{
    int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':' || !ReadDigits(text, 0, 4, nYear) || !ReadDigits(text, 5, 2, nMonth) ||
        !ReadDigits(text, 8, 2, nDay) || !ReadDigits(text, 11, 2, nHour) || !ReadDigits(text, 14, 2, nMinute) ||
        !ReadDigits(text, 17, 2, nSecond) || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 || nHour > 23 ||
        nMinute > 59 || nSecond > 60)
        return false;
    nSeconds = CCalendar::DaysFromCivil(nYear, nMonth, nDay) * 86400 + nHour * 3600 + nMinute * 60 + nSecond;
    return true;
}

}  // namespace

CReceiveTally::CReceiveTally(std::string strCounter) : m_strCounter(std::move(strCounter)) {}

CReceiveTally::Taken CReceiveTally::Take(const char* pData, size_t nLength, const sockaddr_storage& from,
                                         int64_t nArrivalUnixNs)
{
    ++m_nDatagrams;
    m_nBytes += nLength;
    Taken taken;
    const simdjson::error_code nError = m_parser.parse(pData, nLength, false).get(taken.root);
    if (nError != simdjson::SUCCESS) {
        TakeMalformed(pData, nLength, from, nError);
        return taken;
    }
    simdjson::dom::object object;
    simdjson::dom::element imei;
    if (taken.root.get_object().get(object) != simdjson::SUCCESS || !Member(object, "IMEI", imei)) {
        ++m_nWithoutImei;
        taken.nKind = Kind::kWithoutImei;
        return taken;
    }
    std::string_view text;
    if (imei.get_string().get(text) == simdjson::SUCCESS)
        m_strKey.assign(text.data(), text.size());
    else
        m_strKey = CJsonText::Compact(imei);
    taken.nKind = Kind::kDevice;
    TakeDevice(object, nArrivalUnixNs);
    return taken;
}

void CReceiveTally::TakeMalformed(const char* pData, size_t nLength, const sockaddr_storage& from,
                                  simdjson::error_code nError)
{
    ++m_nMalformed;
    if (m_malformedShown.size() >= kShownMalformed)
        return;
    CReceiveRecord::Malformed malformed;
    malformed.strFrom = CTargetAddress::AddressText(from);
    malformed.nLength = nLength;
    malformed.strReason = nError == simdjson::UTF8_ERROR
                              ? std::string("not UTF-8")
                              : std::string("not strict JSON: ") + simdjson::error_message(nError);
    malformed.strShown = CPrintable::Escape(pData, nLength, kShownBytes);
    m_malformedShown.push_back(std::move(malformed));
}

void CReceiveTally::TakeDevice(simdjson::dom::object object, int64_t nArrivalUnixNs)
{
    Device& device = m_devices[m_strKey];
    ++device.nDatagrams;
    simdjson::dom::element value;
    std::string_view command;
    if (Member(object, "cmd", value) && value.get_string().get(command) == simdjson::SUCCESS &&
        command == kInfoCommand) {
        ++m_nDeviceInfo;
        ++device.nInfo;
        // A device that announces itself again starts its count afresh.
        const uint64_t nLost = device.window.Close();
        device.nLost += nLost;
        m_nLost += nLost;
    } else if (!m_strCounter.empty()) {
        uint64_t nCounter = 0;
        if (Member(object, m_strCounter, value) && ReadCounter(value, nCounter))
            Count(device, nCounter);
        else
            ++m_nWithoutCounter;
    }
    AddAge(object, nArrivalUnixNs);
}

void CReceiveTally::Count(Device& device, uint64_t nCounter)
{
    const CCounterWindow::Step step = device.window.Observe(nCounter);
    device.nLost += step.nLost;
    m_nLost += step.nLost;
    if (step.nSeen == CCounterWindow::Seen::kDuplicate) {
        ++device.nDuplicates;
        ++m_nDuplicates;
    } else if (step.nSeen == CCounterWindow::Seen::kReordered) {
        ++device.nReordered;
        ++m_nReordered;
    }
}

void CReceiveTally::AddAge(simdjson::dom::object object, int64_t nArrivalUnixNs)
{
    simdjson::dom::element value;
    if (!Member(object, "time", value))
        return;
    std::string_view text;
    int64_t nLocalSeconds = 0;
    if (value.get_string().get(text) != simdjson::SUCCESS || !ReadLocalSeconds(text, nLocalSeconds)) {
        ++m_nUnreadableTime;
        return;
    }
    const int64_t nArrival = FloorDiv(nArrivalUnixNs, kNsPerSecond);
    m_age.Add(nArrival + LocalOffset(nArrival) - nLocalSeconds);
}

int64_t CReceiveTally::LocalOffset(int64_t nUnixSecond)
{
    if (nUnixSecond == m_nOffsetSecond)
        return m_nOffset;
    struct tm local {};
    m_nOffset = 0;
    if (CLocalTime::Split(nUnixSecond, local))
        m_nOffset = CCalendar::DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) * 86400 +
                    local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - nUnixSecond;
    m_nOffsetSecond = nUnixSecond;
    return m_nOffset;
}

CReceiveRecord::Second CReceiveTally::TakeSecond(uint64_t nT)
{
    CReceiveRecord::Second second;
    second.nT = nT;
    second.nDatagrams = m_nDatagrams - m_last.nDatagrams;
    second.nMalformed = m_nMalformed - m_last.nMalformed;
    second.nLost = m_nLost - m_last.nLost;
    second.nDuplicates = m_nDuplicates - m_last.nDuplicates;
    second.nReordered = m_nReordered - m_last.nReordered;
    second.nDevices = m_devices.Size();
    second.age = m_age.TakeSecond();
    m_last.nDatagrams = m_nDatagrams;
    m_last.nMalformed = m_nMalformed;
    m_last.nLost = m_nLost;
    m_last.nDuplicates = m_nDuplicates;
    m_last.nReordered = m_nReordered;
    return second;
}

void CReceiveTally::CloseCounts()
{
    m_devices.ForEach([this](const std::string&, Device& device) {
        const uint64_t nLost = device.window.Close();
        device.nLost += nLost;
        m_nLost += nLost;
    });
}

void CReceiveTally::Fill(CReceiveRecord& record) const
{
    record.nDatagrams = m_nDatagrams;
    record.nBytes = m_nBytes;
    record.nDevices = m_devices.Size();
    record.nDeviceInfo = m_nDeviceInfo;
    record.nMalformed = m_nMalformed;
    record.nWithoutImei = m_nWithoutImei;
    record.nWithoutCounter = m_nWithoutCounter;
    record.nLost = m_nLost;
    record.nDuplicates = m_nDuplicates;
    record.nReordered = m_nReordered;
    record.nUnreadableTime = m_nUnreadableTime;
    record.age = m_age.Total();
    record.malformed = m_malformedShown;
    record.nExpected = 0;
    std::vector<CReceiveRecord::Device> listed;
    m_devices.ForEach([&](const std::string& strImei, const Device& device) {
        record.nExpected += device.window.Expected();
        if (device.nLost + device.nDuplicates + device.nReordered > 0)
            listed.push_back({strImei, device.nDatagrams, device.nInfo, device.nLost, device.nDuplicates,
                              device.nReordered});
    });
    const auto worse = [](const CReceiveRecord::Device& a, const CReceiveRecord::Device& b) {
        if (a.nLost != b.nLost)
            return a.nLost > b.nLost;
        if (a.nDuplicates + a.nReordered != b.nDuplicates + b.nReordered)
            return a.nDuplicates + a.nReordered > b.nDuplicates + b.nReordered;
        return a.strImei < b.strImei;
    };
    const size_t nKept = std::min(listed.size(), kListedDevices);
    std::partial_sort(listed.begin(), listed.begin() + static_cast<std::ptrdiff_t>(nKept), listed.end(), worse);
    listed.resize(nKept);
    record.devices = std::move(listed);
}
