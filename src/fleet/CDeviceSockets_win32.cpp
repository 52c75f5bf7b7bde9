#include "fleet/CDeviceSockets.h"

#include <winsock2.h>
#include <mswsock.h>
#include <windows.h>

#include <cctype>
#include <vector>

#include "net/CSocketLibrary.h"

namespace {

// What a socket of a fleet that does not read its replies keeps of them:
// Windows has no filter that drops them, so the queue is kept small.
constexpr int kDiscardBufferBytes = 512;
// The dynamic port range Windows uses unless it was changed.
constexpr int kDefaultLow = 49152;
constexpr int kDefaultHigh = 65535;
const char kRangeCommand[] = "netsh int ipv4 show dynamicport udp";

// The output of a console command, or empty when it cannot be run.
std::string CommandOutput(const char* pszCommand)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    if (!CreatePipe(&hRead, &hWrite, &inherit, 0))
        return std::string();
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hWrite;
    startup.hStdError = hWrite;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process{};
    std::string strCommand = pszCommand;
    const BOOL bStarted = CreateProcessA(nullptr, strCommand.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                         nullptr, &startup, &process);
    CloseHandle(hWrite);
    std::string strOutput;
    if (bStarted) {
        char buffer[512];
        DWORD nRead = 0;
        while (strOutput.size() < 65536 && ReadFile(hRead, buffer, sizeof buffer, &nRead, nullptr) && nRead > 0)
            strOutput.append(buffer, nRead);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(hRead);
    return strOutput;
}

// The numbers after the colons of netsh's lines, in order (its words are in
// the system's language, its layout is not).
std::vector<long> NumbersAfterColons(const std::string& strText)
{
    std::vector<long> numbers;
    size_t nAt = 0;
    while ((nAt = strText.find(':', nAt)) != std::string::npos) {
        ++nAt;
        while (nAt < strText.size() && strText[nAt] == ' ')
            ++nAt;
        long nValue = 0;
        size_t nDigits = 0;
        while (nAt < strText.size() && std::isdigit(static_cast<unsigned char>(strText[nAt])) && nDigits < 6) {
            nValue = nValue * 10 + (strText[nAt++] - '0');
            ++nDigits;
        }
        if (nDigits > 0)
            numbers.push_back(nValue);
    }
    return numbers;
}

}  // namespace

void CDeviceSockets::EphemeralRange(int& nLow, int& nHigh, std::string& strWhere)
{
    // Asked once: starting netsh takes a while.
    static const std::vector<long> numbers = NumbersAfterColons(CommandOutput(kRangeCommand));
    nLow = kDefaultLow;
    nHigh = kDefaultHigh;
    strWhere = "Windows' default dynamic range";
    if (numbers.size() >= 2 && numbers[0] >= 1 && numbers[1] >= 1 && numbers[0] + numbers[1] - 1 <= 65535) {
        nLow = static_cast<int>(numbers[0]);
        nHigh = static_cast<int>(numbers[0] + numbers[1] - 1);
        strWhere = std::string("the dynamic range '") + kRangeCommand + "' shows";
    }
}

CStatus CDeviceSockets::CheckDescriptors(uint32_t)
{
    // Windows counts sockets among the process's handles, whose limit is
    // far above a million.
    return CStatus();
}

bool CDeviceSockets::ReadKernelUdp(KernelUdp& udp)
{
    udp = KernelUdp();
    return false;
}

SocketHandle CDeviceSockets::NewSocket(int nFamily)
{
    // Overlapped, for the reply reader's completion port.
    const SocketHandle hSocket =
        WSASocketW(nFamily, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (hSocket == INVALID_SOCKET)
        return hSocket;
    u_long nNonBlocking = 1;
    // A port unreachable that answered an earlier datagram would otherwise
    // fail the socket's next receive with WSAECONNRESET.
    BOOL bReportReset = FALSE;
    DWORD nReturned = 0;
    if (ioctlsocket(hSocket, FIONBIO, &nNonBlocking) != 0 ||
        WSAIoctl(hSocket, SIO_UDP_CONNRESET, &bReportReset, sizeof bReportReset, nullptr, 0, &nReturned, nullptr,
                 nullptr) != 0) {
        const int nError = WSAGetLastError();
        closesocket(hSocket);
        WSASetLastError(nError);
        return INVALID_SOCKET;
    }
    return hSocket;
}

CStatus CDeviceSockets::DiscardIncoming()
{
    const int nBytes = kDiscardBufferBytes;
    for (const SocketHandle hSocket : m_sockets) {
        if (setsockopt(hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nBytes), sizeof nBytes) != 0) {
            const int nError = WSAGetLastError();
            return CStatus::Error("cannot make a device socket's receive buffer small: " +
                                      CSocketLibrary::ErrorText(nError),
                                  nError);
        }
    }
    return CStatus();
}
