// The sender of receive's benchmark: device messages on loopback as fast as
// one process can send them (or at a given rate), with sendmmsg in batches
// of 64. Datagram i belongs to device i mod D (IMEI 860000000000000 + that)
// and carries the device's count in "packnum", so a receiver with
// --counter packnum expects every one. The status message (904 bytes) or a
// small message (about 90 bytes).
//
//     tovrik_receive_sender --port P [--target 127.0.0.1] [--seconds 10]
//                           [--rate R] [--devices 1000] [--small] [--each-once]
//
// --rate 0 (the default) sends as fast as it can; --each-once sends one
// datagram per device and ends (--devices up to millions). Prints one JSON
// object at the end: {"sent":N,"seconds":S}. Linux only.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/TovrikTexts.h"

namespace {

constexpr size_t kBatch = 64;
constexpr int64_t kNsPerSecond = 1000000000;
const char kSmall[] = "{\"cmd\":\"push_msg\",\"IMEI\":\"1234567890\",\"time\":\"2020-07-18 15:22:59\","
                      "\"packnum\":\"12129\"}";

int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

// The message with a 15-digit IMEI and a 10-digit packnum, and where those
// digits are.
struct Template {
    std::string text;
    size_t nImeiAt = 0;
    size_t nCountAt = 0;

    explicit Template(const std::string& strMessage)
    {
        text = strMessage;
        const std::string strImei = "\"IMEI\":\"1234567890\"";
        const std::string strCount = "\"packnum\":\"12129\"";
        text.replace(text.find(strImei), strImei.size(), "\"IMEI\":\"000000000000000\"");
        nImeiAt = text.find("\"IMEI\":\"") + 8;
        text.replace(text.find(strCount), strCount.size(), "\"packnum\":\"0000000000\"");
        nCountAt = text.find("\"packnum\":\"") + 11;
    }
};

void WriteDigits(char* p, uint64_t n, int nWidth)
{
    for (int i = nWidth - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string strTarget = "127.0.0.1";
    int nPort = 0;
    double dSeconds = 10;
    double dRate = 0;
    uint64_t nDevices = 1000;
    bool bSmall = false;
    bool bEachOnce = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strName = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : "";
        if (strName == "--small") {
            bSmall = true;
        } else if (strName == "--each-once") {
            bEachOnce = true;
        } else if (strName == "--port") {
            nPort = std::atoi(pszValue), ++i;
        } else if (strName == "--target") {
            strTarget = pszValue, ++i;
        } else if (strName == "--seconds") {
            dSeconds = std::atof(pszValue), ++i;
        } else if (strName == "--rate") {
            dRate = std::atof(pszValue), ++i;
        } else if (strName == "--devices") {
            nDevices = std::strtoull(pszValue, nullptr, 10), ++i;
        } else {
            std::fprintf(stderr, "usage: tovrik_receive_sender --port P [--target ADDR] [--seconds S] [--rate R] "
                                 "[--devices D] [--small] [--each-once]\n");
            return 64;
        }
    }
    const Template message(bSmall ? kSmall : TovrikTexts::kStatusMessage);
    const int hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int nBuffer = 4 << 20;
    setsockopt(hSocket, SOL_SOCKET, SO_SNDBUF, &nBuffer, sizeof nBuffer);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(nPort));
    inet_pton(AF_INET, strTarget.c_str(), &target.sin_addr);
    if (connect(hSocket, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        std::fprintf(stderr, "connect: %s\n", std::strerror(errno));
        return 1;
    }

    std::vector<std::string> slots(kBatch, message.text);
    mmsghdr headers[kBatch]{};
    iovec vectors[kBatch]{};
    for (size_t i = 0; i < kBatch; ++i) {
        vectors[i].iov_base = slots[i].data();
        vectors[i].iov_len = slots[i].size();
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    const uint64_t nTotal = bEachOnce ? nDevices : UINT64_MAX;
    const int64_t nStart = NowNs();
    const int64_t nEnd = bEachOnce ? INT64_MAX : nStart + static_cast<int64_t>(dSeconds * kNsPerSecond);
    uint64_t nSent = 0;
    for (int64_t nNow = nStart; nNow < nEnd && nSent < nTotal; nNow = NowNs()) {
        if (dRate > 0) {
            // Batches on absolute instants: no drift.
            const int64_t nDue = nStart + static_cast<int64_t>(static_cast<double>(nSent) / dRate * kNsPerSecond);
            if (nDue > nNow) {
                const timespec wait{static_cast<time_t>((nDue - nNow) / kNsPerSecond),
                                    static_cast<long>((nDue - nNow) % kNsPerSecond)};
                nanosleep(&wait, nullptr);
                continue;
            }
        }
        const size_t nCount = static_cast<size_t>(std::min<uint64_t>(kBatch, nTotal - nSent));
        for (size_t i = 0; i < nCount; ++i) {
            const uint64_t nIndex = nSent + i;
            WriteDigits(slots[i].data() + message.nImeiAt, 860000000000000ULL + nIndex % nDevices, 15);
            WriteDigits(slots[i].data() + message.nCountAt, nIndex / nDevices, 10);
        }
        const int n = sendmmsg(hSocket, headers, static_cast<unsigned>(nCount), 0);
        if (n > 0)
            nSent += static_cast<uint64_t>(n);
    }
    std::printf("{\"sent\":%llu,\"seconds\":%.3f}\n", static_cast<unsigned long long>(nSent),
                static_cast<double>(NowNs() - nStart) / kNsPerSecond);
    close(hSocket);
    return 0;
}
