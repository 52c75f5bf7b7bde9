#include "send/CInputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

CInputFile::~CInputFile()
{
    if (m_hFile >= 0)
        close(m_hFile);
}

bool CInputFile::Open(const std::string& strPath)
{
    m_hFile = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    m_nError = m_hFile < 0 ? errno : 0;
    return m_hFile >= 0;
}

bool CInputFile::Stat(bool& bRegular, int64_t& nSize)
{
    struct stat info {};
    if (fstat(m_hFile, &info) != 0) {
        m_nError = errno;
        return false;
    }
    bRegular = S_ISREG(info.st_mode);
    nSize = static_cast<int64_t>(info.st_size);
    return true;
}

int64_t CInputFile::Read(char* pBuffer, int64_t nMax)
{
    const size_t nWanted = static_cast<size_t>(std::min<int64_t>(nMax, INT_MAX));
    for (;;) {
        const ssize_t n = read(m_hFile, pBuffer, nWanted);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_nError = errno;
            return -1;
        }
    }
}

std::string CInputFile::Reason() const
{
    return std::strerror(m_nError);
}
