#pragma once

#include <string>
#include <vector>

#include "cli/CRunConsole.h"
#include "receive/CReceiveConfig.h"
#include "receive/CReceiveRecord.h"
#include "receive/CReceiveRun.h"
#include "verdict/CThreshold.h"

// What tovrik-cli receive tells of its run: its own lines on standard
// error (where it listens, with what seed; a status line each second,
// redrawn in place on a terminal), the first malformed datagrams, the
// summary and the verdicts on standard output; with quiet, only what was
// asked for (the verdicts) and what went wrong. Main thread.
class CReceivePrinter : public CReceiveRun::Observer, public CRunConsole {
public:
    explicit CReceivePrinter(bool bQuiet);

    // "receive: listening on ADDR:PORT, receive buffer N bytes; ...; seed S".
    void Banner(const CReceiveRun& run, const CReceiveConfig& config) const;

    void OnMalformed(const CReceiveRecord::Malformed& malformed) override;
    void OnSecond(const CReceiveRecord::Second& second, const CReceiveRun::Totals& totals) override;

    // The run's figures: datagrams, devices, the counter's, the ages, the
    // kernel's drops, the answers, the devices with the most lost, the
    // DTLS handshakes.
    void Summary(const CReceiveRecord& record) const;

private:
    // The handshakes completed by the last status line.
    uint64_t m_nLastHandshakes = 0;
};
