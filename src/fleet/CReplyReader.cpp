#include "fleet/CReplyReader.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/CThreadStarter.h"
#include "net/CTargetAddress.h"

namespace {

const char kCannotWatch[] = "cannot watch the device sockets";
constexpr uint32_t kStopToken = UINT32_MAX;
// Datagrams read from one socket before the others get their turn.
constexpr int kReadsPerTurn = 64;
// How often the thread looks at the stop flag when no wake-up reaches it.
constexpr int kStopCheckMs = 100;

}  // namespace

CReplyReader::CReplyReader(const CDeviceSockets& sockets, CFleetStats& stats, std::FILE* pOut, ImeiOf imeiOf)
    : m_sockets(sockets), m_stats(stats), m_pOut(pOut), m_imeiOf(std::move(imeiOf))
{
}

CReplyReader::~CReplyReader()
{
    Stop();
    if (m_hEpoll >= 0)
        close(m_hEpoll);
    if (m_hStop >= 0)
        close(m_hStop);
}

CStatus CReplyReader::Start()
{
    m_hEpoll = epoll_create1(EPOLL_CLOEXEC);
    m_hStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_hEpoll < 0 || m_hStop < 0)
        return CStatus::FromErrno(kCannotWatch, errno);
    epoll_event event{};
    event.events = EPOLLIN;
    for (uint32_t j = 0; j <= m_sockets.Size(); ++j) {
        const bool bStop = j == m_sockets.Size();
        event.data.u32 = bStop ? kStopToken : j;
        if (epoll_ctl(m_hEpoll, EPOLL_CTL_ADD, bStop ? m_hStop : m_sockets.Handle(j), &event) != 0)
            return CStatus::FromErrno(kCannotWatch, errno);
    }
    std::string strError;
    m_pThread = CThreadStarter::Start([this] { Run(); }, strError);
    if (!m_pThread)
        return CStatus::Error("cannot start the reply reader: " + strError);
    return CStatus();
}

void CReplyReader::Stop()
{
    if (!m_pThread)
        return;
    // The flag ends the thread at its next look even when the wake-up
    // cannot be written; the wake-up only makes that look come at once.
    m_bStop.store(true);
    const uint64_t nOne = 1;
    while (write(m_hStop, &nOne, sizeof nOne) < 0 && errno == EINTR) {
    }
    m_pThread->join();
    m_pThread.reset();
}

void CReplyReader::Run()
{
    std::vector<epoll_event> events(256);
    std::vector<char> buffer(65536);
    while (!m_bStop.load()) {
        const int n = epoll_wait(m_hEpoll, events.data(), static_cast<int>(events.size()), kStopCheckMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < n; ++i) {
            if (events[static_cast<size_t>(i)].data.u32 == kStopToken)
                return;
            Drain(events[static_cast<size_t>(i)].data.u32, buffer.data(), buffer.size());
        }
    }
}

void CReplyReader::Drain(uint32_t nDevice, char* pBuffer, size_t nSize)
{
    for (int i = 0; i < kReadsPerTurn; ++i) {
        sockaddr_storage from{};
        socklen_t nFrom = sizeof from;
        const ssize_t nRead =
            recvfrom(m_sockets.Handle(nDevice), pBuffer, nSize, 0, reinterpret_cast<sockaddr*>(&from), &nFrom);
        if (nRead < 0)
            return;
        m_stats.RecordReply(static_cast<size_t>(nRead));
        if (m_pOut == nullptr)
            continue;
        std::fprintf(m_pOut, "reply IMEI %s from %s %zd bytes: %s\n", m_imeiOf(nDevice).c_str(),
                     CTargetAddress::AddressText(from).c_str(), nRead,
                     Escape(pBuffer, static_cast<size_t>(nRead)).c_str());
        std::fflush(m_pOut);
    }
}

std::string CReplyReader::Escape(const char* pData, size_t nLength, size_t nShown)
{
    std::string text;
    const size_t nEnd = nLength < nShown ? nLength : nShown;
    for (size_t i = 0; i < nEnd; ++i) {
        const unsigned char c = static_cast<unsigned char>(pData[i]);
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            text.push_back(static_cast<char>(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    if (nLength > nShown)
        text += "...";
    return text;
}
