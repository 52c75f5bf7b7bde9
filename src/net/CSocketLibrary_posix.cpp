#include "net/CSocketLibrary.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

CSocketLibrary::CSocketLibrary() : m_bStarted(true) {}

CSocketLibrary::~CSocketLibrary() = default;

void CSocketLibrary::CloseSocket(SocketHandle hSocket)
{
    close(hSocket);
}

int CSocketLibrary::LastError()
{
    return errno;
}

void CSocketLibrary::SetLastError(int nError)
{
    errno = nError;
}

std::string CSocketLibrary::ErrorText(int nError)
{
    return std::strerror(nError);
}
