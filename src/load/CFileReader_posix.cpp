#include "load/CFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CFileReader::~CFileReader()
{
    if (m_hFile >= 0)
        close(static_cast<int>(m_hFile));
}

bool CFileReader::Open(const std::string& strPath, std::string& strReason)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        strReason = std::strerror(errno);
        return false;
    }
    m_hFile = fd;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        strReason = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        strReason = std::strerror(EISDIR);
        return false;
    }
    m_nSize = S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : -1;
    return true;
}

int64_t CFileReader::Read(char* pData, int64_t n, std::string& strReason)
{
    for (;;) {
        const ssize_t nRead = read(static_cast<int>(m_hFile), pData, static_cast<size_t>(n));
        if (nRead >= 0)
            return nRead;
        if (errno != EINTR) {
            strReason = std::strerror(errno);
            return -1;
        }
    }
}
