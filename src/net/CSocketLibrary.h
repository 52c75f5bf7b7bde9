#pragma once

#include <string>

#include "net/SocketTypes.h"

// The process's hold on the platform's socket library: Windows Sockets is
// started by the constructor and ended by the destructor; POSIX sockets need
// neither. Also reads, sets and words the calling thread's last socket error
// (WSAGetLastError, errno). Make one object on the main thread before any
// socket is opened, and keep it until every socket is closed.
class CSocketLibrary {
public:
    CSocketLibrary();
    ~CSocketLibrary();
    CSocketLibrary(const CSocketLibrary&) = delete;
    CSocketLibrary& operator=(const CSocketLibrary&) = delete;

    // False when the library could not be started; no socket works then.
    bool IsStarted() const { return m_bStarted; }

    // closesocket or close; the result is not looked at.
    static void CloseSocket(SocketHandle hSocket);
    static int LastError();
    static void SetLastError(int nError);
    // The system's words for a socket error code, UTF-8.
    static std::string ErrorText(int nError);
    // Whether address is the broadcast address of one of this host's
    // interfaces (a subnet's directed broadcast). Windows looks no further
    // than 255.255.255.255, which callers test themselves: always false.
    static bool IsInterfaceBroadcast(const in_addr& address);

private:
    bool m_bStarted = false;
};
