#include "load/CFileReader.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "text/CWideText.h"

// The C runtime's descriptors, opened by the wide-character path and in
// binary mode, so that any file name works and no byte is translated.

CFileReader::~CFileReader()
{
    if (m_hFile >= 0)
        _close(static_cast<int>(m_hFile));
}

namespace {

CStatus Failure(int nError)
{
    return CStatus::Error(std::strerror(nError), nError);
}

}  // namespace

CStatus CFileReader::Open(const std::string& strPath)
{
    const int fd = _wopen(CWideText::Widen(strPath).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        const int nError = errno;
        // A directory cannot be opened here at all; say so as on POSIX.
        const DWORD nAttributes = GetFileAttributesW(CWideText::Widen(strPath).c_str());
        const bool bDirectory = nAttributes != INVALID_FILE_ATTRIBUTES && (nAttributes & FILE_ATTRIBUTE_DIRECTORY);
        return bDirectory ? CStatus::Error("Is a directory", EISDIR) : Failure(nError);
    }
    m_hFile = fd;
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0)
        return Failure(errno);
    m_nSize = (info.st_mode & _S_IFMT) == _S_IFREG ? static_cast<int64_t>(info.st_size) : -1;
    return CStatus();
}

CStatus CFileReader::Read(char* pData, int64_t n, int64_t& nRead)
{
    const int nDone = _read(static_cast<int>(m_hFile), pData, static_cast<unsigned>(std::min<int64_t>(n, INT_MAX)));
    if (nDone < 0)
        return Failure(errno);
    nRead = nDone;
    return CStatus();
}
