// The floor of receive's benchmark: what reading a loopback UDP socket costs
// on this machine when nothing else is done. One socket with the receive
// buffer tovrik-cli receive asks for, read with recvmmsg in batches of its
// size into buffers of its size, each datagram counted and nothing else:
// no timestamps, no parsing, no tables.
//
//     tovrik_receive_floor --port P [--bind 127.0.0.1]
//
// Prints "port P" once bound; on SIGINT or SIGTERM prints one JSON object,
// {"datagrams":N,"bytes":B,"drops":D}, D the kernel's drops at the socket.
// Linux only.
#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "receive/CReceiveSocket.h"

namespace {

volatile sig_atomic_t g_bStop = 0;

void OnSignal(int)
{
    g_bStop = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string strBind = "127.0.0.1";
    int nPort = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string strName = argv[i];
        if (strName == "--port")
            nPort = std::atoi(argv[i + 1]);
        else if (strName == "--bind")
            strBind = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: tovrik_receive_floor --port P [--bind ADDR]\n");
            return 64;
        }
    }
    // No SA_RESTART: a signal ends the blocking recvmmsg.
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const int hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int nWanted = CReceiveSocket::kWantedBufferBytes;
    if (setsockopt(hSocket, SOL_SOCKET, SO_RCVBUFFORCE, &nWanted, sizeof nWanted) != 0)
        setsockopt(hSocket, SOL_SOCKET, SO_RCVBUF, &nWanted, sizeof nWanted);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(nPort));
    inet_pton(AF_INET, strBind.c_str(), &local.sin_addr);
    socklen_t nLocal = sizeof local;
    if (bind(hSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(hSocket, reinterpret_cast<sockaddr*>(&local), &nLocal) != 0) {
        std::fprintf(stderr, "bind: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("port %u\n", ntohs(local.sin_port));
    std::fflush(stdout);

    constexpr size_t kBatch = CReceiveSocket::kBatch;
    constexpr size_t kSlot = 65536;
    std::vector<char> buffer(kBatch * kSlot);
    mmsghdr headers[kBatch]{};
    iovec vectors[kBatch]{};
    for (size_t i = 0; i < kBatch; ++i) {
        vectors[i].iov_base = buffer.data() + i * kSlot;
        vectors[i].iov_len = kSlot;
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    uint64_t nDatagrams = 0;
    uint64_t nBytes = 0;
    while (!g_bStop) {
        const int n = recvmmsg(hSocket, headers, kBatch, MSG_WAITFORONE, nullptr);
        for (int i = 0; i < n; ++i) {
            ++nDatagrams;
            nBytes += headers[i].msg_len;
        }
    }
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t nSize = sizeof info;
    getsockopt(hSocket, SOL_SOCKET, SO_MEMINFO, info, &nSize);
    std::printf("{\"datagrams\":%llu,\"bytes\":%llu,\"drops\":%u}\n", static_cast<unsigned long long>(nDatagrams),
                static_cast<unsigned long long>(nBytes), info[SK_MEMINFO_DROPS]);
    close(hSocket);
    return 0;
}
