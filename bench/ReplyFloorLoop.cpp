// The floor of the round-trip benchmark: a bare ping-pong over loopback that
// measures round trips the way tovrik-cli --replies does, with nothing else.
//
//     tovrik_reply_floor echo --port P            answers each datagram with
//                                                 a copy (recvmmsg/sendmmsg)
//     tovrik_reply_floor ping --port P [--count N] [--interval-us US]
//                                                 sends N datagrams to P one
//                                                 every US, each outstanding
//                                                 until its copy comes back
//
// ping reads the calendar clock just before each sendto and takes the copy's
// arrival from the kernel's receive timestamp (SO_TIMESTAMPNS), and prints
// "answered A of N, rtt p50 X p99 Y max Z ms". echo runs until killed. Linux
// only.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

int64_t CalendarNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

sockaddr_in Loopback(int nPort)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    return address;
}

int Echo(int nPort)
{
    const int hSocket = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in local = Loopback(nPort);
    if (bind(hSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    constexpr int kBatch = 64;
    std::vector<char> buffers(kBatch * 2048);
    std::vector<sockaddr_in> from(kBatch);
    std::vector<iovec> data(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    for (;;) {
        for (int i = 0; i < kBatch; ++i) {
            data[i] = {&buffers[static_cast<size_t>(i) * 2048], 2048};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &from[i];
            messages[i].msg_hdr.msg_namelen = sizeof from[i];
            messages[i].msg_hdr.msg_iov = &data[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = recvmmsg(hSocket, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
        if (n <= 0)
            continue;
        for (int i = 0; i < n; ++i)
            data[i].iov_len = messages[i].msg_len;
        sendmmsg(hSocket, messages.data(), static_cast<unsigned>(n), 0);
    }
}

int Ping(int nPort, int nCount, int64_t nIntervalNs)
{
    const int hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const int nOn = 1;
    setsockopt(hSocket, SOL_SOCKET, SO_TIMESTAMPNS, &nOn, sizeof nOn);
    const sockaddr_in target = Loopback(nPort);
    std::vector<int64_t> sent(static_cast<size_t>(nCount), 0);
    std::vector<int64_t> rtts;
    int64_t nNext = CalendarNs();
    const int64_t nEnd = nNext + nCount * nIntervalNs + kNsPerSecond;
    int nSent = 0;
    while (CalendarNs() < nEnd && static_cast<int>(rtts.size()) < nCount) {
        const int64_t nNow = CalendarNs();
        if (nSent < nCount && nNow >= nNext) {
            char text[64];
            const int nLength = std::snprintf(text, sizeof text, "{\"IMEI\":\"1\",\"n\":%d}", nSent);
            sent[static_cast<size_t>(nSent)] = CalendarNs();
            sendto(hSocket, text, static_cast<size_t>(nLength), 0, reinterpret_cast<const sockaddr*>(&target),
                   sizeof target);
            ++nSent;
            nNext += nIntervalNs;
        }
        pollfd fd{hSocket, POLLIN, 0};
        const int64_t nWaitNs = std::max<int64_t>(0, std::min(nNext, nEnd) - CalendarNs());
        const timespec wait{static_cast<time_t>(nWaitNs / kNsPerSecond), static_cast<long>(nWaitNs % kNsPerSecond)};
        if (ppoll(&fd, 1, &wait, nullptr) <= 0)
            continue;
        char buffer[2048];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        iovec data{buffer, sizeof buffer - 1};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t nRead = recvmsg(hSocket, &message, 0);
        if (nRead <= 0)
            continue;
        buffer[nRead] = '\0';
        int64_t nArrival = CalendarNs();
        for (cmsghdr* p = CMSG_FIRSTHDR(&message); p != nullptr; p = CMSG_NXTHDR(&message, p)) {
            if (p->cmsg_level == SOL_SOCKET && p->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(p), sizeof stamp);
                nArrival = static_cast<int64_t>(stamp.tv_sec) * kNsPerSecond + stamp.tv_nsec;
            }
        }
        const char* pN = std::strstr(buffer, "\"n\":");
        const int nIndex = pN != nullptr ? std::atoi(pN + 4) : -1;
        if (nIndex >= 0 && nIndex < nCount && sent[static_cast<size_t>(nIndex)] != 0)
            rtts.push_back(nArrival - sent[static_cast<size_t>(nIndex)]);
    }
    std::sort(rtts.begin(), rtts.end());
    const auto at = [&rtts](double dRank) {
        return rtts.empty() ? 0.0 : static_cast<double>(rtts[static_cast<size_t>(dRank * (rtts.size() - 1))]) / 1e6;
    };
    std::printf("answered %zu of %d, rtt p50 %.3f p99 %.3f max %.3f ms\n", rtts.size(), nCount, at(0.5), at(0.99),
                at(1.0));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tovrik_reply_floor echo|ping --port P [--count N] [--interval-us US]\n");
        return 64;
    }
    const std::string strMode = argv[1];
    int nPort = 0;
    int nCount = 1000;
    int64_t nIntervalUs = 10000;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string strOption = argv[i];
        if (strOption == "--port")
            nPort = std::atoi(argv[i + 1]);
        else if (strOption == "--count")
            nCount = std::atoi(argv[i + 1]);
        else if (strOption == "--interval-us")
            nIntervalUs = std::atoll(argv[i + 1]);
    }
    if (strMode == "echo")
        return Echo(nPort);
    return Ping(nPort, nCount, nIntervalUs * 1000);
}
