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

namespace {

CStatus Failure(int nError)
{
    return CStatus::Error(std::strerror(nError), nError);
}

}  // namespace

CStatus CFileReader::Open(const std::string& strPath)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Failure(errno);
    m_hFile = fd;
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return Failure(errno);
    if (S_ISDIR(info.st_mode))
        return Failure(EISDIR);
    m_nSize = S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : -1;
    return CStatus();
}

CStatus CFileReader::Read(char* pData, int64_t n, int64_t& nRead)
{
    for (;;) {
        const ssize_t nDone = read(static_cast<int>(m_hFile), pData, static_cast<size_t>(n));
        if (nDone >= 0) {
            nRead = nDone;
            return CStatus();
        }
        if (errno != EINTR)
            return Failure(errno);
    }
}
