#include "metrics/CMetricsServer.h"

bool CMetricsServer::IsAvailable()
{
    return false;
}

CMetricsServer::CMetricsServer(Body body) : m_body(std::move(body)) {}

CMetricsServer::~CMetricsServer() = default;

CStatus CMetricsServer::Start(const std::string& strAddress, uint16_t nPort)
{
    return CStatus::Error("cannot serve the metrics on " + strAddress + ":" + std::to_string(nPort) +
                          ": the Windows build has no HTTP server");
}
