#include "send/CInputFile.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "text/CWideText.h"

CInputFile::~CInputFile()
{
    if (m_hFile >= 0)
        _close(m_hFile);
}

bool CInputFile::Open(const std::string& strPath)
{
    m_hFile = _wopen(CWideText::Widen(strPath).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    m_nError = m_hFile < 0 ? errno : 0;
    return m_hFile >= 0;
}

bool CInputFile::Stat(bool& bRegular, int64_t& nSize)
{
    struct _stat64 info {};
    if (_fstat64(m_hFile, &info) != 0) {
        m_nError = errno;
        return false;
    }
    bRegular = (info.st_mode & _S_IFMT) == _S_IFREG;
    nSize = static_cast<int64_t>(info.st_size);
    return true;
}

int64_t CInputFile::Read(char* pBuffer, int64_t nMax)
{
    const int n = _read(m_hFile, pBuffer, static_cast<unsigned>(std::min<int64_t>(nMax, INT_MAX)));
    if (n < 0)
        m_nError = errno;
    return n;
}

std::string CInputFile::Reason() const
{
    return std::strerror(m_nError);
}
