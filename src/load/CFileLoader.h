#pragma once

#include <cstddef>
#include <string>

#include "load/CLoadResult.h"

// Loads message files, read a piece at a time and cut as they are read, so
// that a file is held only once, as the packets' own copies. A file larger
// than the packet buffer's 32-bit lengths allow is refused before anything is
// read; anything that is not a regular file is read up to that limit. The
// operations are independent and may run on any one thread.
class CFileLoader {
public:
    // The import button's load: keeps the messages with "IMEI" and indexes
    // those with a readable "time" by their time-of-day key. Progress counts
    // every byte twice, once read and once cut.
    static CLoadResult Import(const std::string& strPath, const CLoadResult::Progress& progress = {});
    // The same, on bytes already in memory.
    static CLoadResult ImportBytes(const char* pData, size_t nLength, const CLoadResult::Progress& progress = {});
    // A file's bytes as the text box's: cut as they are (no JSON is parsed),
    // or in hex mode read whole (at most the longest hex text) and loaded as
    // the text box's digits are.
    static CLoadResult LoadTextFile(const std::string& strPath, bool bHexMode,
                                    const CLoadResult::Progress& progress = {});
};
