#pragma once

#include <cstdint>
#include <string>

#include "base/CStatus.h"

// Reads one file from its start, a piece at a time, by a UTF-8 path. A
// failure's message is the system's reason ("No such file or directory", "Is
// a directory", ...), its code the errno. The file is closed when the reader goes. One thread at a
// time.
class CFileReader {
public:
    CFileReader() = default;
    ~CFileReader();
    CFileReader(const CFileReader&) = delete;
    CFileReader& operator=(const CFileReader&) = delete;

    // Fails when the file cannot be opened for reading or is a directory.
    CStatus Open(const std::string& strPath);
    // The size of a regular file as it was when opened; -1 for anything else
    // (a pipe, a device), which has to be read to its end to be measured.
    int64_t Size() const { return m_nSize; }
    // Reads up to n bytes: nRead is the count read, 0 at the end.
    CStatus Read(char* pData, int64_t n, int64_t& nRead);

    // A whole file of at most nMaxBytes into text. A failure does not name
    // the file: the system's reason (and its errno), "larger than WHAT can
    // be (N bytes)" or that memory ran out.
    static CStatus ReadAll(const std::string& strPath, int64_t nMaxBytes, const char* pszWhat, std::string& text);

private:
    intptr_t m_hFile = -1;
    int64_t m_nSize = -1;
};
