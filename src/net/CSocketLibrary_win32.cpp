#include "net/CSocketLibrary.h"

#include <winsock2.h>

#include "text/CWideText.h"

CSocketLibrary::CSocketLibrary()
{
    WSADATA data;
    m_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

CSocketLibrary::~CSocketLibrary()
{
    if (m_bStarted)
        WSACleanup();
}

void CSocketLibrary::CloseSocket(SocketHandle hSocket)
{
    closesocket(hSocket);
}

int CSocketLibrary::LastError()
{
    return WSAGetLastError();
}

void CSocketLibrary::SetLastError(int nError)
{
    WSASetLastError(nError);
}

std::string CSocketLibrary::ErrorText(int nError)
{
    wchar_t* pText = nullptr;
    const DWORD nLength = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(nError), 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
    std::wstring strText = nLength > 0 ? std::wstring(pText, nLength) : std::wstring();
    LocalFree(pText);
    // The system's texts are sentences ending in a full stop and a line
    // break; the reasons read as strerror's do on Linux.
    while (!strText.empty() && (strText.back() == L'\n' || strText.back() == L'\r' || strText.back() == L' ' ||
                                strText.back() == L'.'))
        strText.pop_back();
    if (strText.empty())
        return "socket error " + std::to_string(nError);
    return CWideText::Narrow(strText);
}

bool CSocketLibrary::IsInterfaceBroadcast(const in_addr&)
{
    return false;
}
