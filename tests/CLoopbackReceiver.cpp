#include "CLoopbackReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

CLoopbackReceiver::CLoopbackReceiver()
{
    m_hSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_hSocket < 0 || bind(m_hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return;
    socklen_t nLength = sizeof address;
    getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&address), &nLength);
    m_nPort = ntohs(address.sin_port);
}

CLoopbackReceiver::~CLoopbackReceiver()
{
    if (m_hSocket >= 0)
        close(m_hSocket);
}

bool CLoopbackReceiver::Receive(std::string& strDatagram, int nTimeoutMs)
{
    pollfd wait{m_hSocket, POLLIN, 0};
    if (poll(&wait, 1, nTimeoutMs) != 1)
        return false;
    char buffer[65536];
    const ssize_t n = recv(m_hSocket, buffer, sizeof buffer, 0);
    if (n < 0)
        return false;
    strDatagram.assign(buffer, static_cast<size_t>(n));
    return true;
}

std::vector<std::string> CLoopbackReceiver::Collect(int nMilliseconds)
{
    std::vector<std::string> datagrams;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::string strDatagram;
        if (Receive(strDatagram, static_cast<int>(left.count())))
            datagrams.push_back(std::move(strDatagram));
    }
    return datagrams;
}
