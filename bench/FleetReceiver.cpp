// A UDP receiver for the fleet benchmarks that keeps up with a whole fleet on
// one core: it reads with recvmmsg in batches, takes each datagram's kernel
// receive timestamp (SO_TIMESTAMPNS) and the socket's drop counter
// (SO_RXQ_OVFL), finds the device by the value of its "IMEI" member and
// measures how late the datagram arrived against the device's schedule.
//
//     tovrik_fleet_receiver --devices N --imei-first F --window-start T0 --window-end T1
//                           [--period-ms 1000] [--phase spread|first|start] [--early-ms E]
//                           [--sequence MEMBER] [--sequence-first C] [--lead-ms 100] [--spread]
//                           [--bind 127.0.0.1] [--port 0] [--rcvbuf BYTES] [--grace S] [--out FILE]
//                           [--drain-us 1000]
//
// Device k (IMEI = F + k) is due at phase_k + m * period for every whole m;
// its offset o_k is k * period / N (with --spread or --phase spread), else 0:
//   spread  phase_k = o_k from the clock's epoch, i.e. the whole second (or
//           period) plus the device's share of it;
//   first   phase_k = the arrival of the device's first scheduled datagram;
//   start   the run's start S is taken from the device info messages
//           ("push_info", sent at S + o_k; S = the earliest arrival less
//           its offset), and packet i of device k is due at
//           S + o_k + lead + i * period (--sequence only).
// Without --sequence a datagram belongs to the instant it follows by less
// than period - E (it may also be up to E early). With --sequence MEMBER (a
// member that counts up by one per datagram of a device, e.g. tovrik-cli
// --counter packnum) it belongs to the instant its count gives: count C is
// packet C - C0, C0 = --sequence-first (phase first: the count of the
// device's first datagram), so datagrams that come late and are caught up
// keep their own instants however late they are. Only instants in [T0, T1)
// (Unix seconds) count: each device expects the instants of its grid in that
// window, and what did not arrive is missing. Device info messages are counted apart and never
// scheduled. The report's "per_second" counts the other datagrams of known
// devices by the whole second of the window they arrived in, whatever their
// instant: what a server saw each second of a paced fleet (--rate).
//
// With --drain-us D (default 1000) the receiver empties the socket every D
// microseconds and sleeps in between, not on the socket: on loopback the
// sender delivers into the receiver's socket itself, and a receiver blocked
// on the socket would be woken by the sender on nearly every datagram, that
// wake-up charged to the sender's system time. A server on another machine is
// woken by its own network card instead. The arrival times are the kernel's
// stamps either way. --drain-us 0 blocks on the socket, waking per datagram.
//
// Prints "port P" on standard output once bound; at T1 + grace (default 1 s)
// or on SIGINT/SIGTERM writes one JSON object to FILE (or standard output).
// Linux only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kBatch = 256;
constexpr size_t kDatagramBytes = 4096;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kUnset = INT64_MIN;
const std::string kImeiKey = "\"IMEI\":";

volatile sig_atomic_t g_bStop = 0;

void OnSignal(int)
{
    g_bStop = 1;
}

struct Options {
    uint64_t nDevices = 0;
    uint64_t nImeiFirst = 0;
    int64_t nPeriodNs = kNsPerSecond;
    int64_t nEarlyNs = -1;  // default: a tenth of the period
    enum class Phase { kSpread, kFirst, kStart };
    Phase nPhase = Phase::kSpread;
    bool bSpread = false;
    int64_t nLeadNs = 100000000;
    uint64_t nSequenceFirst = 0;
    std::string strSequenceName;
    std::string strSequenceKey;  // the name quoted, with its colon: "packnum":
    int64_t nWindowStartNs = 0;
    int64_t nWindowEndNs = 0;
    int64_t nGraceNs = kNsPerSecond;
    std::string strBind = "127.0.0.1";
    int nPort = 0;
    int nRcvBuf = 64 << 20;
    int64_t nDrainNs = 1000000;
    std::string strOut;
};

struct Device {
    int64_t nPhaseNs = kUnset;  // the instant of slot 0; kUnset until known
    int64_t nLastSlot = kUnset;
    uint64_t nSource = 0;  // address << 16 | port of the first datagram
    uint32_t nReceived = 0;  // distinct instants of the window that arrived
    uint32_t nDuplicates = 0;
    uint32_t nOutOfOrder = 0;
    uint32_t nInfo = 0;
    uint32_t nSourceChanges = 0;
};

struct Counters {
    uint64_t nDatagrams = 0;
    uint64_t nBytes = 0;
    uint64_t nScheduled = 0;  // datagrams of known devices belonging to an instant in the window
    uint64_t nOutsideWindow = 0;
    uint64_t nNoImei = 0;
    uint64_t nNoSequence = 0;  // --sequence: datagrams without the member
    uint64_t nUnscheduled = 0;  // --phase start: packets before any device info message
    int64_t nStartNs = kUnset;  // --phase start: the run's start
    uint64_t nForeign = 0;  // IMEI outside [F, F + N)
    uint64_t nTruncated = 0;
    uint64_t nNoTimestamp = 0;
    uint32_t nSocketDrops = 0;  // SO_RXQ_OVFL: datagrams the kernel dropped at this socket
    int64_t nFirstArrivalNs = kUnset;
    int64_t nLastArrivalNs = kUnset;
    int64_t nMaxLateNs = INT64_MIN;
    uint64_t nMaxLateDevice = 0;
    int64_t nMaxLateInstantNs = 0;
};

struct UdpSnmp {
    bool bRead = false;
    uint64_t nInDatagrams = 0;
    uint64_t nInErrors = 0;
    uint64_t nRcvbufErrors = 0;
};

int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int64_t NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

int64_t SecondsToNs(const char* psz)
{
    return std::llround(std::strtod(psz, nullptr) * 1e9);
}

UdpSnmp ReadUdpSnmp()
{
    // Two "Udp:" lines: the field names, then the values.
    UdpSnmp snmp;
    std::ifstream in("/proc/net/snmp");
    std::string strLine, strNames;
    while (std::getline(in, strLine)) {
        if (strLine.compare(0, 4, "Udp:") != 0)
            continue;
        if (strNames.empty()) {
            strNames = strLine;
            continue;
        }
        std::istringstream names(strNames), values(strLine);
        std::string strName, strValue;
        names >> strName;
        values >> strValue;
        while (names >> strName && values >> strValue) {
            const uint64_t nValue = std::strtoull(strValue.c_str(), nullptr, 10);
            if (strName == "InDatagrams")
                snmp.nInDatagrams = nValue;
            else if (strName == "InErrors")
                snmp.nInErrors = nValue;
            else if (strName == "RcvbufErrors")
                snmp.nRcvbufErrors = nValue;
        }
        snmp.bRead = true;
        break;
    }
    return snmp;
}

uint64_t ReadRmemMax()
{
    std::ifstream in("/proc/sys/net/core/rmem_max");
    uint64_t n = 0;
    in >> n;
    return n;
}

// The value of the first member whose quoted name and colon are strKey:
// digits, quoted or not.
bool FindDigits(const char* p, size_t n, const std::string& strKey, uint64_t& nValueOut)
{
    const void* pHit = memmem(p, n, strKey.data(), strKey.size());
    if (pHit == nullptr)
        return false;
    const char* q = static_cast<const char*>(pHit) + strKey.size();
    const char* pEnd = p + n;
    while (q < pEnd && (*q == ' ' || *q == '"'))
        ++q;
    if (q == pEnd || *q < '0' || *q > '9')
        return false;
    uint64_t nValue = 0;
    for (; q < pEnd && *q >= '0' && *q <= '9'; ++q)
        nValue = nValue * 10 + static_cast<uint64_t>(*q - '0');
    nValueOut = nValue;
    return true;
}

bool IsDeviceInfo(const char* p, size_t n)
{
    static const char kInfo[] = "\"push_info\"";
    return memmem(p, n, kInfo, sizeof kInfo - 1) != nullptr;
}

// The number of instants phase + m * period in [start, end).
int64_t InstantsIn(int64_t nPhaseNs, int64_t nPeriodNs, int64_t nStartNs, int64_t nEndNs)
{
    const int64_t nFirst = FloorDiv(nStartNs - nPhaseNs + nPeriodNs - 1, nPeriodNs);
    const int64_t nLast = FloorDiv(nEndNs - nPhaseNs - 1, nPeriodNs);
    return std::max<int64_t>(0, nLast - nFirst + 1);
}

double Percentile(std::vector<int32_t>& values, double fraction)
{
    if (values.empty())
        return 0;
    const size_t nAt = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(nAt), values.end());
    return values[nAt] / 1e6;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--spread") {
            options.bSpread = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* pszValue = argv[++i];
        if (strArg == "--devices")
            options.nDevices = std::strtoull(pszValue, nullptr, 10);
        else if (strArg == "--imei-first")
            options.nImeiFirst = std::strtoull(pszValue, nullptr, 10);
        else if (strArg == "--period-ms")
            options.nPeriodNs = std::llround(std::strtod(pszValue, nullptr) * 1e6);
        else if (strArg == "--early-ms")
            options.nEarlyNs = std::llround(std::strtod(pszValue, nullptr) * 1e6);
        else if (strArg == "--phase" && std::strcmp(pszValue, "spread") == 0)
            options.nPhase = Options::Phase::kSpread;
        else if (strArg == "--phase" && std::strcmp(pszValue, "first") == 0)
            options.nPhase = Options::Phase::kFirst;
        else if (strArg == "--phase" && std::strcmp(pszValue, "start") == 0)
            options.nPhase = Options::Phase::kStart;
        else if (strArg == "--sequence-first")
            options.nSequenceFirst = std::strtoull(pszValue, nullptr, 10);
        else if (strArg == "--lead-ms")
            options.nLeadNs = std::llround(std::strtod(pszValue, nullptr) * 1e6);
        else if (strArg == "--sequence")
            options.strSequenceName = pszValue;
        else if (strArg == "--window-start")
            options.nWindowStartNs = SecondsToNs(pszValue);
        else if (strArg == "--window-end")
            options.nWindowEndNs = SecondsToNs(pszValue);
        else if (strArg == "--grace")
            options.nGraceNs = SecondsToNs(pszValue);
        else if (strArg == "--bind")
            options.strBind = pszValue;
        else if (strArg == "--port")
            options.nPort = std::atoi(pszValue);
        else if (strArg == "--rcvbuf")
            options.nRcvBuf = std::atoi(pszValue);
        else if (strArg == "--out")
            options.strOut = pszValue;
        else if (strArg == "--drain-us")
            options.nDrainNs = std::llround(std::strtod(pszValue, nullptr) * 1e3);
        else
            return false;
    }
    if (options.nEarlyNs < 0)
        options.nEarlyNs = options.nPeriodNs / 10;
    if (!options.strSequenceName.empty())
        options.strSequenceKey = "\"" + options.strSequenceName + "\":";
    if (options.nPhase == Options::Phase::kSpread)
        options.bSpread = true;
    if (options.nPhase == Options::Phase::kStart && options.strSequenceName.empty())
        return false;
    if (options.nPhase == Options::Phase::kSpread && !options.strSequenceName.empty())
        return false;
    return options.nDevices > 0 && options.nPeriodNs > 0 && options.nEarlyNs < options.nPeriodNs &&
           options.nWindowEndNs > options.nWindowStartNs && options.nPort >= 0 && options.nPort <= 65535 &&
           options.nDrainNs >= 0 && options.nDrainNs < kNsPerSecond;
}

// Binds the socket with a large receive buffer, kernel timestamps and the
// drop counter; returns the descriptor or -1. nRcvBuf receives what the
// kernel granted (it doubles the request for its own bookkeeping, and caps a
// plain request at rmem_max; root may go past the cap).
int OpenSocket(const Options& options, int& nRcvBuf, bool& bForced)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.nPort));
    const int nOn = 1;
    timeval timeout{0, 100000};  // wake up to look at the clock and the stop flag
    if (inet_pton(AF_INET, options.strBind.c_str(), &address.sin_addr) != 1 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.nRcvBuf, sizeof options.nRcvBuf) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &nOn, sizeof nOn) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &nOn, sizeof nOn) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    socklen_t nLength = sizeof nRcvBuf;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nRcvBuf, &nLength);
    bForced = false;
    if (nRcvBuf / 2 < options.nRcvBuf &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &options.nRcvBuf, sizeof options.nRcvBuf) == 0) {
        bForced = true;
        getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nRcvBuf, &nLength);
    }
    return fd;
}

class Tally {
public:
    explicit Tally(const Options& options)
        : m_options(options),
          m_devices(options.nDevices),
          m_perSecond(static_cast<size_t>(
              (options.nWindowEndNs - options.nWindowStartNs + kNsPerSecond - 1) / kNsPerSecond))
    {
        if (options.nPhase == Options::Phase::kSpread) {
            for (uint64_t k = 0; k < options.nDevices; ++k)
                m_devices[k].nPhaseNs = Offset(k);
        }
        const int64_t nExpected = (options.nWindowEndNs - options.nWindowStartNs) / options.nPeriodNs;
        m_lateNs.reserve(static_cast<size_t>(std::min<int64_t>(nExpected * static_cast<int64_t>(options.nDevices),
                                                               int64_t{1} << 27)));
    }

    void Add(const char* p, size_t n, int64_t nArrivalNs, uint64_t nSource)
    {
        ++m_counters.nDatagrams;
        m_counters.nBytes += n;
        if (m_counters.nFirstArrivalNs == kUnset)
            m_counters.nFirstArrivalNs = nArrivalNs;
        m_counters.nLastArrivalNs = nArrivalNs;
        m_sources.insert(nSource);
        m_ports.insert(static_cast<uint16_t>(nSource & 0xffff));
        uint64_t nImei = 0;
        if (!FindDigits(p, n, kImeiKey, nImei)) {
            ++m_counters.nNoImei;
            return;
        }
        if (nImei < m_options.nImeiFirst || nImei - m_options.nImeiFirst >= m_options.nDevices) {
            ++m_counters.nForeign;
            return;
        }
        const uint64_t k = nImei - m_options.nImeiFirst;
        Device& device = m_devices[k];
        if (device.nSource == 0)
            device.nSource = nSource;
        else if (device.nSource != nSource)
            ++device.nSourceChanges;
        if (IsDeviceInfo(p, n)) {
            ++device.nInfo;
            const int64_t nStartNs = nArrivalNs - Offset(k);
            if (m_counters.nStartNs == kUnset || nStartNs < m_counters.nStartNs)
                m_counters.nStartNs = nStartNs;
            return;
        }
        const int64_t nSinceNs = nArrivalNs - m_options.nWindowStartNs;
        if (nSinceNs >= 0 && static_cast<size_t>(nSinceNs / kNsPerSecond) < m_perSecond.size())
            ++m_perSecond[static_cast<size_t>(nSinceNs / kNsPerSecond)];
        int64_t nSlot = 0;
        if (m_options.strSequenceKey.empty()) {
            if (device.nPhaseNs == kUnset)
                device.nPhaseNs = nArrivalNs - FloorDiv(nArrivalNs, m_options.nPeriodNs) * m_options.nPeriodNs;
            nSlot = FloorDiv(nArrivalNs - device.nPhaseNs + m_options.nEarlyNs, m_options.nPeriodNs);
        } else {
            uint64_t nCount = 0;
            if (!FindDigits(p, n, m_options.strSequenceKey, nCount)) {
                ++m_counters.nNoSequence;
                return;
            }
            if (m_options.nPhase == Options::Phase::kStart) {
                // The info messages all come a lead ahead of the first packets.
                if (m_counters.nStartNs == kUnset) {
                    ++m_counters.nUnscheduled;
                    return;
                }
                device.nPhaseNs = m_counters.nStartNs + Offset(k) + m_options.nLeadNs -
                                  static_cast<int64_t>(m_options.nSequenceFirst) * m_options.nPeriodNs;
            } else if (device.nPhaseNs == kUnset) {
                device.nPhaseNs = nArrivalNs - static_cast<int64_t>(nCount) * m_options.nPeriodNs;
            }
            nSlot = static_cast<int64_t>(nCount);
        }
        const int64_t nInstantNs = device.nPhaseNs + nSlot * m_options.nPeriodNs;
        if (nInstantNs < m_options.nWindowStartNs || nInstantNs >= m_options.nWindowEndNs) {
            ++m_counters.nOutsideWindow;
            return;
        }
        ++m_counters.nScheduled;
        if (device.nLastSlot != kUnset && nSlot == device.nLastSlot) {
            ++device.nDuplicates;
            return;
        }
        if (device.nLastSlot != kUnset && nSlot < device.nLastSlot)
            ++device.nOutOfOrder;  // a late arrival of an earlier instant; not told from a repeat of one
        else
            ++device.nReceived;
        device.nLastSlot = std::max(device.nLastSlot, nSlot);
        const int64_t nLateNs = nArrivalNs - nInstantNs;
        m_lateNs.push_back(static_cast<int32_t>(nLateNs));
        if (nLateNs > m_counters.nMaxLateNs) {
            m_counters.nMaxLateNs = nLateNs;
            m_counters.nMaxLateDevice = k;
            m_counters.nMaxLateInstantNs = nInstantNs;
        }
    }

    Counters& counters() { return m_counters; }

    int64_t Offset(uint64_t k) const
    {
        if (!m_options.bSpread)
            return 0;
        return static_cast<int64_t>(static_cast<unsigned __int128>(k) * static_cast<uint64_t>(m_options.nPeriodNs) /
                                    m_options.nDevices);
    }

    std::string Report(const UdpSnmp& before, const UdpSnmp& after, int nRcvBuf, bool bForced)
    {
        uint64_t nExpected = 0, nMissing = 0, nDevicesMissing = 0, nDevicesSeen = 0, nDuplicates = 0,
                 nOutOfOrder = 0, nInfo = 0, nDevicesMoved = 0;
        std::string strWorst;
        const Counters& c = m_counters;
        const int64_t nWindowNs = m_options.nWindowEndNs - m_options.nWindowStartNs;
        for (uint64_t k = 0; k < m_devices.size(); ++k) {
            const Device& device = m_devices[k];
            int64_t nPhaseNs = device.nPhaseNs;
            if (m_options.nPhase == Options::Phase::kStart && c.nStartNs != kUnset)
                nPhaseNs = c.nStartNs + Offset(k) + m_options.nLeadNs -
                           static_cast<int64_t>(m_options.nSequenceFirst) * m_options.nPeriodNs;
            const int64_t nDue = nPhaseNs == kUnset ? nWindowNs / m_options.nPeriodNs
                                                    : InstantsIn(nPhaseNs, m_options.nPeriodNs,
                                                                 m_options.nWindowStartNs, m_options.nWindowEndNs);
            nExpected += static_cast<uint64_t>(nDue);
            const uint64_t nGot = device.nReceived + device.nOutOfOrder;
            if (nGot < static_cast<uint64_t>(nDue)) {
                nMissing += static_cast<uint64_t>(nDue) - nGot;
                if (++nDevicesMissing <= 10)
                    strWorst += (strWorst.empty() ? "" : ", ") + std::to_string(m_options.nImeiFirst + k);
            }
            if (device.nSource != 0)
                ++nDevicesSeen;
            nDuplicates += device.nDuplicates;
            nOutOfOrder += device.nOutOfOrder;
            nInfo += device.nInfo;
            if (device.nSourceChanges != 0)
                ++nDevicesMoved;
        }
        std::vector<int32_t>& late = m_lateNs;
        const double fMin = late.empty() ? 0 : *std::min_element(late.begin(), late.end()) / 1e6;
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double fCpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        static const char* const kPhases[] = {"spread", "first", "start"};

        std::ostringstream out;
        out.precision(15);
        out << "{\"devices\": " << m_options.nDevices << ", \"imei_first\": " << m_options.nImeiFirst
            << ", \"period_ms\": " << m_options.nPeriodNs / 1e6 << ", \"phase\": \""
            << kPhases[static_cast<int>(m_options.nPhase)] << "\", \"spread\": "
            << (m_options.bSpread ? "true" : "false") << ", \"sequence\": \"" << m_options.strSequenceName
            << "\", \"window_start\": " << m_options.nWindowStartNs / 1e9 << ", \"window_s\": " << nWindowNs / 1e9
            << ",\n \"run_start\": " << (c.nStartNs == kUnset ? 0 : c.nStartNs / 1e9)
            << ", \"datagrams\": " << c.nDatagrams << ", \"bytes\": " << c.nBytes << ", \"scheduled\": " << c.nScheduled
            << ", \"expected\": " << nExpected << ", \"missing\": " << nMissing
            << ", \"devices_missing\": " << nDevicesMissing << ", \"devices_missing_first\": [" << strWorst << "]"
            << ",\n \"devices_seen\": " << nDevicesSeen << ", \"duplicates\": " << nDuplicates
            << ", \"out_of_order\": " << nOutOfOrder << ", \"outside_window\": " << c.nOutsideWindow
            << ", \"info_messages\": " << nInfo << ", \"no_imei\": " << c.nNoImei
            << ", \"no_sequence\": " << c.nNoSequence << ", \"unscheduled\": " << c.nUnscheduled
            << ", \"foreign\": " << c.nForeign << ", \"truncated\": " << c.nTruncated
            << ", \"no_timestamp\": " << c.nNoTimestamp << ",\n \"sources\": " << m_sources.size()
            << ", \"source_ports\": " << m_ports.size() << ", \"devices_changing_source\": " << nDevicesMoved
            << ",\n \"late_ms\": {\"min\": " << fMin << ", \"p50\": " << Percentile(late, 0.50)
            << ", \"p90\": " << Percentile(late, 0.90) << ", \"p99\": " << Percentile(late, 0.99)
            << ", \"p999\": " << Percentile(late, 0.999) << ", \"max\": " << (late.empty() ? 0 : c.nMaxLateNs / 1e6)
            << ", \"max_imei\": " << m_options.nImeiFirst + c.nMaxLateDevice
            << ", \"max_instant\": " << c.nMaxLateInstantNs / 1e9 << "}"
            << ",\n \"arrival_span_s\": "
            << (c.nFirstArrivalNs == kUnset ? 0 : (c.nLastArrivalNs - c.nFirstArrivalNs) / 1e9)
            << ", \"socket_drops\": " << c.nSocketDrops << ", \"rcvbuf_bytes\": " << nRcvBuf
            << ", \"rcvbuf_forced\": " << (bForced ? "true" : "false") << ", \"rmem_max\": " << ReadRmemMax()
            << ",\n \"udp_snmp\": {\"read\": " << (before.bRead && after.bRead ? "true" : "false")
            << ", \"in_datagrams\": " << after.nInDatagrams - before.nInDatagrams
            << ", \"rcvbuf_errors\": " << after.nRcvbufErrors - before.nRcvbufErrors
            << ", \"in_errors\": " << after.nInErrors - before.nInErrors << "}"
            << ",\n \"per_second\": [";
        for (size_t i = 0; i < m_perSecond.size(); ++i)
            out << (i == 0 ? "" : ", ") << m_perSecond[i];
        out << "]"
            << ",\n \"receiver_cpu_s\": " << fCpu << "}\n";
        return out.str();
    }

private:
    const Options& m_options;
    std::vector<Device> m_devices;
    std::vector<int32_t> m_lateNs;
    std::vector<uint64_t> m_perSecond;  // datagrams by the second of the window they arrived in
    std::unordered_set<uint64_t> m_sources;
    std::unordered_set<uint16_t> m_ports;
    Counters m_counters;
};

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s --devices N --imei-first F --window-start T0 --window-end T1 [--period-ms MS] "
                     "[--phase spread|first|start] [--early-ms MS] [--sequence MEMBER] [--sequence-first C] "
                     "[--lead-ms MS] [--spread] [--bind ADDR] [--port P] [--rcvbuf BYTES] [--grace S] [--out FILE]\n"
                     "       [--drain-us US]\n",
                     argv[0]);
        return 64;
    }
    int nRcvBuf = 0;
    bool bForced = false;
    const int fd = OpenSocket(options, nRcvBuf, bForced);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open the UDP socket on %s:%d: %s\n", options.strBind.c_str(), options.nPort,
                     std::strerror(errno));
        return 1;
    }
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    sockaddr_in address{};
    socklen_t nLength = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength);
    std::printf("port %u\n", ntohs(address.sin_port));
    std::fflush(stdout);

    Tally tally(options);
    const UdpSnmp before = ReadUdpSnmp();
    std::vector<char> buffers(static_cast<size_t>(kBatch) * kDatagramBytes);
    std::vector<char> controls(static_cast<size_t>(kBatch) * 128);
    std::vector<sockaddr_in> sources(kBatch);
    std::vector<iovec> iovecs(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    const int64_t nStopNs = options.nWindowEndNs + options.nGraceNs;
    while (!g_bStop && NowNs() < nStopNs) {
        for (int i = 0; i < kBatch; ++i) {
            iovecs[i] = {&buffers[static_cast<size_t>(i) * kDatagramBytes], kDatagramBytes};
            msghdr& header = messages[i].msg_hdr;
            header = {};
            header.msg_name = &sources[i];
            header.msg_namelen = sizeof(sockaddr_in);
            header.msg_iov = &iovecs[i];
            header.msg_iovlen = 1;
            header.msg_control = &controls[static_cast<size_t>(i) * 128];
            header.msg_controllen = 128;
        }
        const int nGot = recvmmsg(fd, messages.data(), kBatch, options.nDrainNs > 0 ? MSG_DONTWAIT : MSG_WAITFORONE,
                                  nullptr);
        if (nGot <= 0 && options.nDrainNs > 0) {
            const timespec pause{0, static_cast<long>(options.nDrainNs)};
            nanosleep(&pause, nullptr);
        }
        if (nGot <= 0)
            continue;  // empty, a time-out or a signal: look at the clock again
        for (int i = 0; i < nGot; ++i) {
            msghdr& header = messages[i].msg_hdr;
            int64_t nArrivalNs = kUnset;
            for (cmsghdr* pCmsg = CMSG_FIRSTHDR(&header); pCmsg != nullptr; pCmsg = CMSG_NXTHDR(&header, pCmsg)) {
                if (pCmsg->cmsg_level != SOL_SOCKET)
                    continue;
                if (pCmsg->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts{};
                    std::memcpy(&ts, CMSG_DATA(pCmsg), sizeof ts);
                    nArrivalNs = static_cast<int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
                } else if (pCmsg->cmsg_type == SO_RXQ_OVFL) {
                    uint32_t nDrops = 0;
                    std::memcpy(&nDrops, CMSG_DATA(pCmsg), sizeof nDrops);
                    tally.counters().nSocketDrops = std::max(tally.counters().nSocketDrops, nDrops);
                }
            }
            if (nArrivalNs == kUnset) {
                ++tally.counters().nNoTimestamp;
                nArrivalNs = NowNs();
            }
            if ((header.msg_flags & MSG_TRUNC) != 0)
                ++tally.counters().nTruncated;
            const uint64_t nSource = static_cast<uint64_t>(ntohl(sources[i].sin_addr.s_addr)) << 16 |
                                     ntohs(sources[i].sin_port);
            tally.Add(static_cast<const char*>(iovecs[i].iov_base), std::min<size_t>(messages[i].msg_len, kDatagramBytes),
                      nArrivalNs, nSource);
        }
    }
    const UdpSnmp after = ReadUdpSnmp();
    close(fd);
    const std::string strReport = tally.Report(before, after, nRcvBuf, bForced);
    if (options.strOut.empty()) {
        std::fputs(strReport.c_str(), stdout);
        return 0;
    }
    FILE* pFile = std::fopen(options.strOut.c_str(), "w");
    if (pFile == nullptr || std::fputs(strReport.c_str(), pFile) < 0 || std::fclose(pFile) != 0) {
        std::fprintf(stderr, "cannot write %s\n", options.strOut.c_str());
        return 1;
    }
    return 0;
}
