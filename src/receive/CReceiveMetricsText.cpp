#include "receive/CReceiveMetricsText.h"

#include "metrics/MetricsExposition.h"

CReceiveMetricsText::CReceiveMetricsText(const std::string& strListen) : m_strLabels("listen=\"" + strListen + "\"") {}

std::string CReceiveMetricsText::Text(const Counters& counters) const
{
    struct Line {
        const char* pszName;
        const char* pszType;
        const char* pszHelp;
        uint64_t nValue;
    };
    const Line lines[] = {
        {"tovrik_receive_datagrams_total", "counter", "Datagrams received.", counters.nDatagrams},
        {"tovrik_receive_malformed_total", "counter", "Datagrams that are not strict JSON in UTF-8.",
         counters.nMalformed},
        {"tovrik_receive_duplicates_total", "counter", "Counter values that arrived again (--counter).",
         counters.nDuplicates},
        {"tovrik_receive_reordered_total", "counter", "Counter values that arrived after a higher one (--counter).",
         counters.nReordered},
        {"tovrik_receive_lost_total", "counter", "Counter values that did not arrive (--counter).", counters.nLost},
        {"tovrik_receive_kernel_drops_total", "counter", "Datagrams the kernel dropped at the socket (a full buffer).",
         counters.nKernelDrops},
        {"tovrik_receive_answers_total", "counter", "Answers sent (--answer).", counters.nAnswers},
        {"tovrik_receive_devices", "gauge", "Devices seen (distinct IMEI values).", counters.nDevices},
    };
    std::string out;
    out.reserve(2048);
    const auto append = [&](const auto& table) {
        for (const Line& line : table)
            MetricsExposition::AppendMetric(out, line.pszName, line.pszType, line.pszHelp, m_strLabels,
                                            std::to_string(line.nValue));
    };
    append(lines);
    if (!counters.bDtls)
        return out;
    const Line dtls[] = {
        {"tovrik_receive_dtls_sessions", "gauge", "DTLS sessions kept (handshaking and open).", counters.nSessions},
        {"tovrik_receive_dtls_handshakes_total", "counter", "DTLS handshakes completed.", counters.nHandshakes},
        {"tovrik_receive_dtls_handshake_failures_total", "counter", "DTLS handshakes failed.",
         counters.nHandshakeFailures},
    };
    append(dtls);
    return out;
}
