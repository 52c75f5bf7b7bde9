#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/CStatus.h"

struct MHD_Daemon;

// An HTTP server (libmicrohttpd, on a thread of its own) that answers
// GET /metrics (HEAD too) with the text the body function makes, in the
// Prometheus exposition format; any other path is 404, any other method
// 405, a malformed request 400. Start and the destructor are called from
// one thread; the body function is called from the server's thread, for
// every scrape, until the destructor returns, so it must be safe to call
// from there for the server's whole life.
class CMetricsServer {
public:
    using Body = std::function<std::string()>;

    explicit CMetricsServer(Body body);
    // Stops serving: a scrape under way finishes first.
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Listens on address:nPort (0: a free port, see Port) and serves from
    // then on. Fails, saying the address, when the port is taken.
    CStatus Start(const in_addr& address, uint16_t nPort);
    // The port listened on, once started.
    uint16_t Port() const { return m_nPort; }

private:
    Body m_body;
    MHD_Daemon* m_pDaemon = nullptr;
    uint16_t m_nPort = 0;
};
