#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "load/CLoadResult.h"

// Imports a packet capture: every UDP datagram that the filter (if any)
// lets through is cut into messages as an imported message file is, each
// payload as an input of its own, and the messages with "IMEI" are kept with
// their time index. The result also tells each packet's capture time and
// source, and carries the summary of what was read and skipped. The capture
// is read as a stream; a damaged one gives what came before the damage.
// Independent calls, any one thread.
class CCaptureLoader {
public:
    static CLoadResult Load(const std::string& strPath, const std::optional<std::string>& strFilter);
    // The same on a capture's bytes in memory.
    static CLoadResult LoadMemory(const void* pData, size_t nLength, const std::optional<std::string>& strFilter);
};
