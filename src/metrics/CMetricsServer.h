#pragma once

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
// from there for the server's whole life. The Windows build has no HTTP
// server: IsAvailable() says so, and Start fails.
class CMetricsServer {
public:
    using Body = std::function<std::string()>;

    explicit CMetricsServer(Body body);
    // Stops serving: a scrape under way finishes first.
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Whether this build can serve at all.
    static bool IsAvailable();

    // Listens on strAddress:nPort, strAddress an IPv4 literal (0: a free
    // port, see Port), and serves from then on. Fails, saying the address,
    // when the port is taken.
    [[nodiscard]] CStatus Start(const std::string& strAddress, uint16_t nPort);
    // The port listened on, once started.
    uint16_t Port() const { return m_nPort; }

private:
    Body m_body;
    MHD_Daemon* m_pDaemon = nullptr;
    uint16_t m_nPort = 0;
};
