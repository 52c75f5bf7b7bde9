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

bool CFileReader::Open(const std::string& strPath, std::string& strReason)
{
    const int fd = _wopen(CWideText::Widen(strPath).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        // A directory cannot be opened here at all; say so as on POSIX.
        const DWORD nAttributes = GetFileAttributesW(CWideText::Widen(strPath).c_str());
        const bool bDirectory = nAttributes != INVALID_FILE_ATTRIBUTES && (nAttributes & FILE_ATTRIBUTE_DIRECTORY);
        strReason = bDirectory ? "Is a directory" : std::strerror(errno);
        return false;
    }
    m_hFile = fd;
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0) {
        strReason = std::strerror(errno);
        return false;
    }
    m_nSize = (info.st_mode & _S_IFMT) == _S_IFREG ? static_cast<int64_t>(info.st_size) : -1;
    return true;
}

int64_t CFileReader::Read(char* pData, int64_t n, std::string& strReason)
{
    const int nRead = _read(static_cast<int>(m_hFile), pData, static_cast<unsigned>(std::min<int64_t>(n, INT_MAX)));
    if (nRead < 0)
        strReason = std::strerror(errno);
    return nRead;
}
