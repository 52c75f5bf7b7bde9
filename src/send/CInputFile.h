#pragma once

#include <cstdint>
#include <string>

// A file opened read-only as bytes (no line-end translation) by a UTF-8 path;
// on Windows through the wide-character calls, so that any file name works.
// Owns its descriptor. One thread at a time.
class CInputFile {
public:
    CInputFile() = default;
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // False when the file cannot be opened; Reason() says why.
    bool Open(const std::string& strPath);
    // Whether it is a regular file, and then its size. False on failure.
    bool Stat(bool& bRegular, int64_t& nSize);
    // Up to nMax bytes: the count read, 0 at the end, -1 on failure.
    int64_t Read(char* pBuffer, int64_t nMax);
    // The system's words for the last failure.
    std::string Reason() const;

private:
    int m_hFile = -1;
    int m_nError = 0;
};
