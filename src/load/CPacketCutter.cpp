#include "load/CPacketCutter.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

int64_t CountLineBreaks(const char* p, size_t n)
{
    int64_t nBreaks = 0;
    const char* const pEnd = p + n;
    while (p < pEnd) {
        const void* pBreak = std::memchr(p, '\n', static_cast<size_t>(pEnd - p));
        if (pBreak == nullptr)
            break;
        ++nBreaks;
        p = static_cast<const char*>(pBreak) + 1;
    }
    return nBreaks;
}

// Offset just past the last '}' of the n bytes, or -1.
int64_t EndOfLastClose(const char* p, size_t n)
{
    for (size_t i = n; i > 0; --i) {
        if (p[i - 1] == '}')
            return static_cast<int64_t>(i);
    }
    return -1;
}

}  // namespace

CPacketCutter::CPacketCutter(Keep keep) : m_keep(std::move(keep)) {}

int CPacketCutter::NextPiece() const
{
    return std::max(kPiece, m_buffer.Length());
}

char* CPacketCutter::BeginAppend(int n)
{
    return m_buffer.BeginAppend(n);
}

void CPacketCutter::EndAppend(int n)
{
    if (n <= 0)
        return;
    const int32_t nBefore = m_buffer.Length();
    m_buffer.EndAppend(n);
    const int32_t nAdded = m_buffer.Length() - nBefore;
    if (nAdded <= 0)
        return;
    const char* pAdded = m_buffer.Data() + nBefore;
    const int64_t nCloseEnd = EndOfLastClose(pAdded, static_cast<size_t>(nAdded));
    if (nCloseEnd > 0)
        m_nClosedEnd = m_nFed + nCloseEnd;
    m_nLineBreaks += CountLineBreaks(pAdded, static_cast<size_t>(nAdded));
    m_nFed += nAdded;
    CutSettled();
}

bool CPacketCutter::Append(const char* pData, size_t nLength)
{
    size_t nDone = 0;
    while (nDone < nLength && !m_bStopped) {
        const int n = static_cast<int>(std::min(static_cast<size_t>(NextPiece()), nLength - nDone));
        char* pRoom = BeginAppend(n);
        if (pRoom == nullptr)
            return false;
        std::memcpy(pRoom, pData + nDone, static_cast<size_t>(n));
        EndAppend(n);
        nDone += static_cast<size_t>(n);
    }
    return true;
}

void CPacketCutter::DropJunk()
{
    // Bytes before the first '{' are dropped by the first FindPacket of the
    // whole input anyway; keeping four of them keeps its "at least 5 bytes"
    // test as it would be. A long stretch without a packet (a binary file,
    // a device) then costs no memory.
    const int32_t nHeld = m_buffer.Length();
    if (nHeld <= 4)
        return;
    const void* pOpen = std::memchr(m_buffer.Data(), '{', static_cast<size_t>(nHeld));
    const int64_t nJunk = pOpen ? static_cast<const char*>(pOpen) - m_buffer.Data() : nHeld;
    if (nJunk > 4)
        m_buffer.Consume(static_cast<int>(nJunk - 4));
}

void CPacketCutter::CutSettled()
{
    DropJunk();
    while (!m_bStopped) {
        // Bytes up to the last '}' still held; the framing of the front
        // cannot change once a '{' lies before it.
        const int64_t nClosed = m_nClosedEnd - (m_nFed - m_buffer.Length());
        if (!m_buffer.IsSettled(static_cast<int32_t>(std::max<int64_t>(nClosed, 0))))
            return;
        const int n = m_buffer.FindPacket();
        if (n == 0) {
            m_bStopped = true;
            return;
        }
        CutFront(n);
    }
}

void CPacketCutter::Finish()
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    if (m_bStopped)
        return;
    for (int n = m_buffer.FindPacket(); n != 0; n = m_buffer.FindPacket())
        CutFront(n);
}

void CPacketCutter::Restart()
{
    if (m_buffer.Length() > 0)
        m_buffer.Consume(m_buffer.Length());
    m_nFed = 0;
    m_nClosedEnd = 0;
    m_nLineBreaks = 0;
    m_bStopped = false;
    m_bFinished = false;
}

void CPacketCutter::CutFront(int n)
{
    m_keep(Packet{m_buffer.Data(), n});
    m_buffer.Consume(n);
    ++m_nCut;
}

bool CPacketCutter::GetStop(Stop& stop) const
{
    const int32_t nHeld = m_buffer.Length();
    if (nHeld == 0)
        return false;
    stop.nOffset = m_nFed - nHeld;
    stop.nLine = 1 + m_nLineBreaks - CountLineBreaks(m_buffer.Data(), static_cast<size_t>(nHeld));
    return true;
}
