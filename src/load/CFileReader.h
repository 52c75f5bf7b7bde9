#pragma once

#include <cstdint>
#include <string>

// Reads one file from its start, a piece at a time, by a UTF-8 path. Failures
// give the system's reason as text ("No such file or directory", "Is a
// directory", ...). The file is closed when the reader goes. One thread at a
// time.
class CFileReader {
public:
    CFileReader() = default;
    ~CFileReader();
    CFileReader(const CFileReader&) = delete;
    CFileReader& operator=(const CFileReader&) = delete;

    // False, with the reason, when the file cannot be opened for reading or
    // is a directory.
    bool Open(const std::string& strPath, std::string& strReason);
    // The size of a regular file as it was when opened; -1 for anything else
    // (a pipe, a device), which has to be read to its end to be measured.
    int64_t Size() const { return m_nSize; }
    // Reads up to n bytes: the count read, 0 at the end, -1 on a failure
    // (with the reason).
    int64_t Read(char* pData, int64_t n, std::string& strReason);

private:
    intptr_t m_hFile = -1;
    int64_t m_nSize = -1;
};
