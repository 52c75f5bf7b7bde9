#include "cli/CReceivePrinter.h"

#include <cinttypes>
#include <cstdio>

#include "cli/CConsole.h"
#include "dtls/CDtlsContext.h"
#include "receive/CReceiveSocket.h"
#include "text/CPrintable.h"
#include "traffic/CRate.h"

CReceivePrinter::CReceivePrinter(bool bQuiet) : CRunConsole(bQuiet) {}

void CReceivePrinter::Banner(const CReceiveRun& run, const CReceiveConfig& config) const
{
    std::string strLine = "receive: listening on " + run.ListenText() + ", receive buffer " +
                          std::to_string(run.ReceiveBufferBytes()) + " bytes";
    if (!CReceiveSocket::TellsDrops())
        strLine += " (this system does not tell the kernel's drops)";
    strLine += config.strCounter.empty() ? ", no counter" : ", counter \"" + config.strCounter + "\"";
    strLine += ", answers " + config.AnswerText();
    if (config.nAnswer != CReceiveConfig::Answer::kNone) {
        char drop[32];
        std::snprintf(drop, sizeof drop, "%g", config.dAnswerDrop);
        strLine += " delay " + config.answerDelay.Text() + " drop " + drop;
        if (config.dCapacity)
            strLine += " capacity " + CRate::Text(*config.dCapacity) + " queue " +
                       std::to_string(config.nCapacityQueue);
    }
    Say(strLine + ", seed " + std::to_string(config.nSeed));
    if (config.dtls.bOn)
        Say("dtls: " + CDtlsContext::LibraryText() + ", suites " + CDtlsContext::SuitesText(config.dtls) + ", cookie exchange " +
            (config.dtls.bCookie ? "on" : "off"));
}

void CReceivePrinter::OnMalformed(const CReceiveRecord::Malformed& malformed)
{
    if (Quiet())
        return;
    EndStatus();
    std::printf("malformed from %s, %" PRIu64 " bytes (%s): %s\n", malformed.strFrom.c_str(), malformed.nLength,
                malformed.strReason.c_str(), malformed.strShown.c_str());
    std::fflush(stdout);
}

void CReceivePrinter::OnSecond(const CReceiveRecord::Second& second, const CReceiveRun::Totals& totals)
{
    if (Quiet())
        return;
    char age[64] = "-";
    if (second.age.nCount > 0)
        std::snprintf(age, sizeof age, "p50 %" PRId64 " max %" PRId64 " s", second.age.nP50, second.age.nMax);
    char line[320];
    std::snprintf(line, sizeof line,
                  "datagrams %" PRIu64 " %" PRIu64 "/s devices %" PRIu64 " malformed %" PRIu64 " lost %" PRIu64
                  " duplicates %" PRIu64 " reordered %" PRIu64 " drops %" PRIu64 " answers %" PRIu64 " age %s",
                  totals.nDatagrams, second.nDatagrams, totals.nDevices, totals.nMalformed, totals.nLost,
                  totals.nDuplicates, totals.nReordered, totals.nKernelDrops, totals.nAnswers, age);
    std::string strLine = line;
    if (totals.bDtls) {
        strLine += " dtls sessions " + std::to_string(totals.nSessions) + " handshakes " +
                   std::to_string(totals.nHandshakes) + " " + std::to_string(totals.nHandshakes - m_nLastHandshakes) +
                   "/s failed " + std::to_string(totals.nHandshakeFailures);
        m_nLastHandshakes = totals.nHandshakes;
    }
    Status(strLine);
}

void CReceivePrinter::Summary(const CReceiveRecord& record) const
{
    if (Quiet())
        return;
    std::printf("received %" PRIu64 " datagrams in %.3f s (%.1f per second), %" PRIu64 " bytes, from %" PRIu64
                " devices: %" PRIu64 " device info messages, %" PRIu64 " malformed, %" PRIu64 " without IMEI\n",
                record.nDatagrams, record.dSeconds, record.Rate(), record.nBytes, record.nDevices, record.nDeviceInfo,
                record.nMalformed, record.nWithoutImei);
    if (record.bKernelDropsKnown)
        std::printf("kernel drops at the socket: %" PRIu64 "\n", record.nKernelDrops);
    else
        std::printf("kernel drops at the socket: not told by this system\n");
    if (!record.strCounter.empty())
        std::printf("counter \"%s\": %" PRIu64 " expected, %" PRIu64 " lost (loss %.6f), %" PRIu64
                    " duplicates, %" PRIu64 " reordered, %" PRIu64 " without the counter\n",
                    record.strCounter.c_str(), record.nExpected, record.nLost, record.Loss(), record.nDuplicates,
                    record.nReordered, record.nWithoutCounter);
    if (record.age.nCount > 0)
        std::printf("\"time\" against arrival: p50 %" PRId64 " s, min %" PRId64 " s, max %" PRId64 " s, of %" PRIu64
                    " messages\n",
                    record.age.nP50, record.age.nMin, record.age.nMax, record.age.nCount);
    if (record.strAnswer != "none")
        std::printf("answers: %" PRIu64 " sent, %" PRIu64 " dropped (--answer-drop), %" PRIu64
                    " not queued (queue full), %" PRIu64 " over capacity, %" PRIu64 " refused\n",
                    record.nAnswersSent, record.nAnswersDropped, record.nAnswersNotQueued,
                    record.nAnswersOverCapacity, record.nAnswerErrors);
    for (const CReceiveRecord::Device& device : record.devices)
        std::printf("device %s: %" PRIu64 " datagrams, %" PRIu64 " device info, %" PRIu64 " lost, %" PRIu64
                    " duplicates, %" PRIu64 " reordered\n",
                    CPrintable::Escape(device.strImei.data(), device.strImei.size(), device.strImei.size()).c_str(),
                    device.nDatagrams, device.nInfo, device.nLost, device.nDuplicates,
                    device.nReordered);
    if (record.handshakes)
        std::printf("dtls: %s\n", record.handshakes->Text().c_str());
    if (record.nMalformed > record.malformed.size())
        std::printf("malformed: the first %zu shown, %" PRIu64 " more counted\n", record.malformed.size(),
                    record.nMalformed - record.malformed.size());
    std::fflush(stdout);
}

