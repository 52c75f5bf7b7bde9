#pragma once

#include <optional>
#include <string>

#include "load/CLoadResult.h"

// Where a run's messages come from, as a front end was told: typed text (or
// the status message when none), a text file, an imported message file, or
// an imported packet capture (told apart from a message file by its first
// bytes, whatever its name) with an optional filter. A plain value; any
// thread.
struct CMessageSource {
    std::optional<std::string> strText;
    std::optional<std::string> strTextFile;
    std::optional<std::string> strImport;
    // The text, or the text file, is hexadecimal digits spelling the bytes.
    bool bHex = false;
    // An imported capture's datagrams to keep, in libpcap's filter syntax.
    std::optional<std::string> strCaptureFilter;

    // An import that is a packet capture.
    bool IsCapture() const;
    // Loads the messages as the start or import button would; shows nothing.
    CLoadResult Load() const;
};
