#include "metrics/CMetricsServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "metrics/CMetricsText.h"

namespace {

constexpr char kPath[] = "/metrics";
// Scrapers are few; the rest of the process's spare descriptors are not
// theirs to take.
constexpr unsigned kMaxConnections = 8;
constexpr unsigned kIdleSeconds = 10;
constexpr int kBacklog = 16;

MHD_Result Reply(MHD_Connection* pConnection, unsigned nStatus, const std::string& strBody, const char* pszType)
{
    MHD_Response* pResponse =
        MHD_create_response_from_buffer(strBody.size(), const_cast<char*>(strBody.data()), MHD_RESPMEM_MUST_COPY);
    if (pResponse == nullptr)
        return MHD_NO;
    MHD_add_response_header(pResponse, MHD_HTTP_HEADER_CONTENT_TYPE, pszType);
    if (nStatus == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(pResponse, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result result = MHD_queue_response(pConnection, nStatus, pResponse);
    MHD_destroy_response(pResponse);
    return result;
}

// libmicrohttpd's request handler: answers at the first call, before any
// request body is read, so a body is never taken in.
MHD_Result Answer(void* pBody, MHD_Connection* pConnection, const char* pszUrl, const char* pszMethod,
                  const char* /*pszVersion*/, const char* /*pszUpload*/, size_t* /*pnUploadSize*/,
                  void** /*ppRequest*/)
{
    try {
        if (std::strcmp(pszUrl, kPath) != 0)
            return Reply(pConnection, MHD_HTTP_NOT_FOUND, "not found: only " + std::string(kPath) + " is served\n",
                         "text/plain; charset=utf-8");
        if (std::strcmp(pszMethod, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(pszMethod, MHD_HTTP_METHOD_HEAD) != 0)
            return Reply(pConnection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed: GET or HEAD\n",
                         "text/plain; charset=utf-8");
        return Reply(pConnection, MHD_HTTP_OK, (*static_cast<const CMetricsServer::Body*>(pBody))(),
                     CMetricsText::kContentType);
    } catch (...) {
        // Out of memory for the text: the connection is closed unanswered.
        return MHD_NO;
    }
}

std::string AddressText(const in_addr& address, uint16_t nPort)
{
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ":" + std::to_string(nPort);
}

}  // namespace

bool CMetricsServer::IsAvailable()
{
    return true;
}

CMetricsServer::CMetricsServer(Body body) : m_body(std::move(body)) {}

CMetricsServer::~CMetricsServer()
{
    if (m_pDaemon != nullptr)
        MHD_stop_daemon(m_pDaemon);
}

CStatus CMetricsServer::Start(const std::string& strAddress, uint16_t nPort)
{
    in_addr address{};
    if (inet_pton(AF_INET, strAddress.c_str(), &address) != 1)
        return CStatus::Error("cannot serve the metrics on " + strAddress + ": not an IPv4 address");
    const std::string strWhere = "cannot serve the metrics on " + AddressText(address, nPort);
    // The socket is made here, not by libmicrohttpd, so that a taken port is
    // told with the system's reason.
    const int hSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (hSocket < 0)
        return CStatus::FromErrno(strWhere, errno);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(nPort);
    // A restarted run may take the port back from its last run's closed
    // connections; a port another process listens on stays refused.
    const int nReuse = 1;
    setsockopt(hSocket, SOL_SOCKET, SO_REUSEADDR, &nReuse, sizeof nReuse);
    socklen_t nLength = sizeof local;
    if (bind(hSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(hSocket, kBacklog) != 0 || getsockname(hSocket, reinterpret_cast<sockaddr*>(&local), &nLength) != 0) {
        const int nErrno = errno;
        close(hSocket);
        return CStatus::FromErrno(strWhere, nErrno);
    }
    // epoll: the fleet's sockets take descriptor numbers far above what
    // select can watch.
    m_pDaemon = MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &Answer, &m_body,
                                 MHD_OPTION_LISTEN_SOCKET, hSocket, MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                                 MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_END);
    if (m_pDaemon == nullptr) {
        close(hSocket);
        return CStatus::Error(strWhere + ": the HTTP server did not start");
    }
    m_nPort = ntohs(local.sin_port);
    return CStatus();
}
