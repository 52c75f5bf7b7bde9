#pragma once

#include <string>

#include "base/CStatus.h"
#include "receive/CReceiveRecord.h"

// A receive run's report as one self-contained HTML page (inline CSS and
// SVG, no script, every text escaped): the command line, the summary, the
// thresholds' verdicts, plots of each second's datagrams, lost, duplicates,
// reordered, malformed and kernel drops and of how old messages were on
// arrival, the first malformed datagrams and the devices with the most
// lost. Any thread.
class CReceiveReport {
public:
    static std::string Html(const CReceiveRecord& record);
    // Writes the page to a file by its UTF-8 path; a failure says why, as
    // CFileWriter does.
    static CStatus Write(const std::string& strPath, const CReceiveRecord& record);
};
