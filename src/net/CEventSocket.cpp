#include "net/CEventSocket.h"

// What the platforms share: the dispatch order, the accept operations and
// the handlers, which do nothing here.

void CEventSocket::Close()
{
    if (m_hSocket == kInvalidSocket)
        return;
    Shutdown();
}

bool CEventSocket::DispatchEvents(uint32_t nEvents, const int nErrors[6])
{
    if (nEvents & kEventAccept)
        OnAccept(nErrors[3]);
    if (nEvents & kEventConnect)
        OnConnect(nErrors[4]);
    if (nEvents & kEventWrite)
        OnWrite(nErrors[1]);
    if (nEvents & kEventRead)
        OnRead(nErrors[0]);
    if (nEvents & kEventOutOfBand)
        OnOutOfBand(nErrors[2]);
    if (nEvents & kEventClose) {
        OnClose(nErrors[5]);
        return true;
    }
    return false;
}

int CEventSocket::AcceptHandle(SocketHandle* pOut, sockaddr* pAddr, SocketLength* pAddrLen)
{
    *pOut = accept(m_hSocket, pAddr, pAddrLen);
    return *pOut != kInvalidSocket ? 1 : 0;
}

int CEventSocket::AcceptInto(CEventSocket* pPeer, sockaddr* pAddr, SocketLength* pAddrLen)
{
    const SocketHandle s = accept(m_hSocket, pAddr, pAddrLen);
    if (s == kInvalidSocket)
        return 0;
    if (pPeer->m_hSocket != kInvalidSocket)
        pPeer->Close();
    return pPeer->AttachSocket(s, 0);
}

ssize_t CEventSocket::Receive(void* pBuf, int nLen, int nFlags)
{
    return recv(m_hSocket, static_cast<char*>(pBuf), nLen, nFlags);
}

void CEventSocket::OnRead(int) {}
void CEventSocket::OnWrite(int) {}
void CEventSocket::OnOutOfBand(int) {}
void CEventSocket::OnError(int) {}
void CEventSocket::OnAccept(int) {}
void CEventSocket::OnConnect(int) {}
void CEventSocket::OnClose(int) {}
