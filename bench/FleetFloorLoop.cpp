// The floor of the fleet benchmarks: what a sender on the fleet's schedule
// costs on this machine when it does nothing but the system calls the fleet
// engine makes. N UDP sockets, socket k sending one tiny fixed message
// ({"IMEI":"<first + k>"}, as py_fleet_loop.py) at every whole period plus
// k * period / N; the sender wakes on the engine's grid (--grain-us, default
// the engine's own), sends what is due with one sendto each and sleeps again
// with one ppoll. Nothing is rewritten, counted or scheduled in a heap.
// --shard K/M and --bind ADDR cut the N devices as tovrik-cli's options of
// those names do: this process sends for devices floor(K N / M) to
// floor((K + 1) N / M) - 1, with their IMEIs and offsets in the whole fleet,
// from sockets bound to ADDR. --read-replies 1 also reads what comes back
// to the sockets, as the fleet's reply reader does: at most every
// CReplyReader::kReadGrainMs, one epoll_wait without waiting and recvmmsg
// batches of 8 from each ready socket.
// --bytes B pads each message with a "pad" member to B bytes, so that the
// floor sends as many bytes as the fleet (904 for the status message).
// --rtt-out FILE reads the replies too and writes their round trips there
// (the kernel's receive timestamp less the clock read before the socket's
// last sendto) as JSON: {"replies": N, "rtt_us": [[MICROSECONDS, COUNT], ...]};
// --rtt-from UNIX_S counts only the replies to datagrams sent from then on.
//
//     tovrik_fleet_floor --port P [--target 127.0.0.1] [--devices 10000]
//                        [--imei-first 860000000000000] [--period-ms 1000]
//                        [--seconds 60] [--grain-us US] [--shard K/M] [--bind ADDR]
//                        [--read-replies 1] [--bytes B] [--rtt-out FILE [--rtt-from UNIX_S]]
//
// It starts with the instants still ahead in the current period, ends after
// --seconds (sending nothing due from then on) and prints nothing. Linux only.
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fleet/CFleetEngine.h"
#include "fleet/CReplyReader.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

// Reads every reply waiting on the sockets epoll reports ready; with a
// send time a socket, also their round trips.
class CReplyDrain
{
public:
    static constexpr int64_t kGrainNs = CReplyReader::kReadGrainMs * int64_t{1000000};
    static constexpr int kBatch = 8;

    CReplyDrain(const std::vector<int>& sockets, bool bRoundTrips, int64_t nRttFromNs)
        : m_hEpoll(epoll_create1(EPOLL_CLOEXEC)), m_sockets(sockets), m_nRttFromNs(nRttFromNs)
    {
        if (bRoundTrips)
            m_sentNs.assign(sockets.size(), 0);
        const int nOn = 1;
        for (size_t i = 0; i < sockets.size(); ++i) {
            if (bRoundTrips)
                setsockopt(sockets[i], SOL_SOCKET, SO_TIMESTAMPNS, &nOn, sizeof nOn);
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u32 = static_cast<uint32_t>(i);
            epoll_ctl(m_hEpoll, EPOLL_CTL_ADD, sockets[i], &event);
        }
        for (int i = 0; i < kBatch; ++i) {
            m_vecs[i] = iovec{m_buffers[i], sizeof m_buffers[i]};
            m_headers[i].msg_hdr.msg_iov = &m_vecs[i];
            m_headers[i].msg_hdr.msg_iovlen = 1;
        }
    }
    ~CReplyDrain() { close(m_hEpoll); }
    CReplyDrain(const CReplyDrain&) = delete;
    CReplyDrain& operator=(const CReplyDrain&) = delete;

    void Sent(size_t i, int64_t nNowNs)
    {
        if (!m_sentNs.empty())
            m_sentNs[i] = nNowNs;
    }

    void Poll(int64_t nNowNs)
    {
        if (nNowNs - m_nLastNs < kGrainNs)
            return;
        m_nLastNs = nNowNs;
        epoll_event events[256];
        const int nReady = epoll_wait(m_hEpoll, events, 256, 0);
        for (int i = 0; i < nReady; ++i) {
            const uint32_t nSocket = events[i].data.u32;
            int nGot = kBatch;
            while (nGot == kBatch) {
                for (int j = 0; j < kBatch; ++j) {
                    m_headers[j].msg_hdr.msg_control = m_control[j];
                    m_headers[j].msg_hdr.msg_controllen = m_sentNs.empty() ? 0 : sizeof m_control[j];
                }
                nGot = recvmmsg(m_sockets[nSocket], m_headers, kBatch, MSG_DONTWAIT, nullptr);
                for (int j = 0; j < nGot && !m_sentNs.empty(); ++j)
                    Count(nSocket, m_headers[j].msg_hdr);
            }
        }
    }

    bool Write(const char* pszPath) const
    {
        std::FILE* pFile = std::fopen(pszPath, "w");
        if (pFile == nullptr)
            return false;
        std::fprintf(pFile, "{\"replies\": %llu, \"rtt_us\": [", static_cast<unsigned long long>(m_nReplies));
        const char* pszComma = "";
        for (const auto& entry : m_rttUs) {
            std::fprintf(pFile, "%s[%lld, %llu]", pszComma, static_cast<long long>(entry.first),
                         static_cast<unsigned long long>(entry.second));
            pszComma = ", ";
        }
        std::fprintf(pFile, "]}\n");
        return std::fclose(pFile) == 0;
    }

private:
    void Count(uint32_t nSocket, msghdr& message)
    {
        for (cmsghdr* pHeader = CMSG_FIRSTHDR(&message); pHeader != nullptr;
             pHeader = CMSG_NXTHDR(&message, pHeader)) {
            if (pHeader->cmsg_level != SOL_SOCKET || pHeader->cmsg_type != SCM_TIMESTAMPNS)
                continue;
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(pHeader), sizeof stamp);
            const int64_t nArrivalNs = static_cast<int64_t>(stamp.tv_sec) * kNsPerSecond + stamp.tv_nsec;
            if (m_sentNs[nSocket] < m_nRttFromNs)
                continue;
            ++m_rttUs[(nArrivalNs - m_sentNs[nSocket]) / 1000];
            ++m_nReplies;
        }
    }

    int m_hEpoll;
    const std::vector<int>& m_sockets;
    const int64_t m_nRttFromNs;
    std::vector<int64_t> m_sentNs;  // empty: no round trips
    std::map<int64_t, uint64_t> m_rttUs;
    uint64_t m_nReplies = 0;
    int64_t m_nLastNs = 0;
    char m_buffers[kBatch][2048];
    alignas(cmsghdr) char m_control[kBatch][CMSG_SPACE(sizeof(timespec))];
    iovec m_vecs[kBatch];
    mmsghdr m_headers[kBatch]{};
};

}  // namespace

int main(int argc, char** argv)
{
    std::string strTarget = "127.0.0.1";
    int nPort = -1;
    long nDevices = 10000;
    unsigned long long nImeiFirst = 860000000000000ULL;
    double dPeriodMs = 1000.0;
    double dSeconds = 60.0;
    int64_t nGrainNs = CFleetEngine::kWakeGrainNs;
    long nShard = 0;
    long nShards = 1;
    std::string strBind;
    bool bReadReplies = false;
    long nBytes = 0;
    std::string strRttOut;
    double dRttFrom = 0;
    bool bUsage = argc % 2 == 0;  // options come in pairs
    for (int i = 1; i + 1 < argc && !bUsage; i += 2) {
        const std::string strArg = argv[i];
        const char* pszValue = argv[i + 1];
        if (strArg == "--port")
            nPort = std::atoi(pszValue);
        else if (strArg == "--target")
            strTarget = pszValue;
        else if (strArg == "--devices")
            nDevices = std::atol(pszValue);
        else if (strArg == "--imei-first")
            nImeiFirst = std::strtoull(pszValue, nullptr, 10);
        else if (strArg == "--period-ms")
            dPeriodMs = std::strtod(pszValue, nullptr);
        else if (strArg == "--seconds")
            dSeconds = std::strtod(pszValue, nullptr);
        else if (strArg == "--grain-us")
            nGrainNs = std::llround(std::strtod(pszValue, nullptr) * 1e3);
        else if (strArg == "--shard")
            bUsage = std::sscanf(pszValue, "%ld/%ld", &nShard, &nShards) != 2;
        else if (strArg == "--bind")
            strBind = pszValue;
        else if (strArg == "--read-replies")
            bReadReplies = std::atoi(pszValue) != 0;
        else if (strArg == "--bytes")
            nBytes = std::atol(pszValue);
        else if (strArg == "--rtt-out")
            strRttOut = pszValue;
        else if (strArg == "--rtt-from")
            dRttFrom = std::strtod(pszValue, nullptr);
        else
            bUsage = true;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(nPort));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (bUsage || nPort < 0 || nPort > 65535 || nDevices < 1 || dPeriodMs <= 0 || nGrainNs < 1 ||
        nShards < 1 || nShard < 0 || nShard >= nShards || nBytes < 0 || nBytes > 65000 ||
        inet_pton(AF_INET, strTarget.c_str(), &target.sin_addr) != 1 ||
        (!strBind.empty() && inet_pton(AF_INET, strBind.c_str(), &local.sin_addr) != 1)) {
        std::fprintf(stderr,
                     "usage: %s --port P [--target ADDR] [--devices N] [--imei-first F] [--period-ms MS] "
                     "[--seconds S] [--grain-us US] [--shard K/M] [--bind ADDR] [--read-replies 1] [--bytes B] [--rtt-out FILE [--rtt-from UNIX_S]]\n",
                     argv[0]);
        return 64;
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    // The whole fleet's device indices of this shard.
    const long nFirst = static_cast<long>(static_cast<int64_t>(nShard) * nDevices / nShards);
    const long nEnd = static_cast<long>(static_cast<int64_t>(nShard + 1) * nDevices / nShards);
    std::vector<int> sockets;
    std::vector<std::string> messages;
    for (long k = nFirst; k < nEnd; ++k) {
        const int hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (hSocket < 0 ||
            (!strBind.empty() && bind(hSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)) {
            std::fprintf(stderr, "cannot open socket %ld: %s\n", k - nFirst + 1, std::strerror(errno));
            return 1;
        }
        sockets.push_back(hSocket);
        std::string strMessage =
            "{\"IMEI\":\"" + std::to_string(nImeiFirst + static_cast<unsigned long long>(k)) + "\"";
        // ,"pad":"" and the closing brace take 10 bytes of B.
        const size_t nFixed = strMessage.size() + 10;
        if (static_cast<size_t>(nBytes) > nFixed)
            strMessage += ",\"pad\":\"" + std::string(static_cast<size_t>(nBytes) - nFixed, 'x') + "\"";
        messages.push_back(strMessage + "}");
    }

    std::unique_ptr<CReplyDrain> pDrain;
    if (bReadReplies || !strRttOut.empty())
        pDrain = std::make_unique<CReplyDrain>(sockets, !strRttOut.empty(), std::llround(dRttFrom * 1e9));
    const int64_t nPeriodNs = std::llround(dPeriodMs * 1e6);
    const int64_t nStartNs = NowNs();
    const int64_t nEndNs = nStartNs + std::llround(dSeconds * 1e9);
    for (int64_t nBaseNs = nStartNs / nPeriodNs * nPeriodNs; nBaseNs < nEndNs; nBaseNs += nPeriodNs) {
        for (long k = nFirst; k < nEnd; ++k) {
            const int64_t nDueNs = nBaseNs + static_cast<int64_t>(k) * nPeriodNs / nDevices;
            if (nDueNs < nStartNs)
                continue;
            if (nDueNs >= nEndNs)
                break;
            const int64_t nNow = NowNs();
            if (nDueNs > nNow) {
                const int64_t nWakeNs = (nDueNs + nGrainNs - 1) / nGrainNs * nGrainNs;
                const int64_t nWaitNs = nWakeNs - nNow;
                const timespec timeout{static_cast<time_t>(nWaitNs / kNsPerSecond),
                                       static_cast<long>(nWaitNs % kNsPerSecond)};
                ppoll(nullptr, 0, &timeout, nullptr);
            }
            if (pDrain)
                pDrain->Poll(NowNs());
            // A full queue loses this one, as UDP would.
            const size_t i = static_cast<size_t>(k - nFirst);
            if (pDrain)
                pDrain->Sent(i, NowNs());
            sendto(sockets[i], messages[i].data(), messages[i].size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&target), sizeof target);
        }
    }
    // The sockets stay open to the end, as a fleet's do, past this shard's
    // last instant, and their replies are still read.
    for (int64_t nNow = NowNs(); nNow < nEndNs; nNow = NowNs()) {
        if (pDrain)
            pDrain->Poll(nNow);
        const int64_t nWaitNs = pDrain ? std::min(nEndNs - nNow, CReplyDrain::kGrainNs) : nEndNs - nNow;
        const timespec timeout{static_cast<time_t>(nWaitNs / kNsPerSecond), static_cast<long>(nWaitNs % kNsPerSecond)};
        ppoll(nullptr, 0, &timeout, nullptr);
    }
    if (pDrain && !strRttOut.empty() && !pDrain->Write(strRttOut.c_str())) {
        std::fprintf(stderr, "cannot write %s: %s\n", strRttOut.c_str(), std::strerror(errno));
        return 1;
    }
    for (int hSocket : sockets)
        close(hSocket);
    return 0;
}
