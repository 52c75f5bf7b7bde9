#include "report/CFileWriter.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <windows.h>

#include "text/CWideText.h"

// The C runtime's descriptors, opened by the wide-character path and in
// binary mode, so that any file name works and no byte is translated.

namespace {

CStatus Fail(int nError)
{
    return CStatus::Error(std::strerror(nError), nError);
}

}  // namespace

CStatus CFileWriter::Write(const std::string& strPath, std::string_view bytes)
{
    const int fd = _wopen(CWideText::Widen(strPath).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return Fail(errno);
    const char* p = bytes.data();
    size_t nLeft = bytes.size();
    while (nLeft > 0) {
        const int nWritten = _write(fd, p, static_cast<unsigned>(std::min<size_t>(nLeft, INT_MAX)));
        if (nWritten <= 0) {
            const int nError = nWritten < 0 ? errno : EIO;
            _close(fd);
            return Fail(nError);
        }
        p += nWritten;
        nLeft -= static_cast<size_t>(nWritten);
    }
    if (_close(fd) != 0)
        return Fail(errno);
    return CStatus();
}

CStatus CFileWriter::CanWrite(const std::string& strPath)
{
    const std::wstring strWide = CWideText::Widen(strPath);
    const bool bExisted = GetFileAttributesW(strWide.c_str()) != INVALID_FILE_ATTRIBUTES;
    const int fd = _wopen(strWide.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return Fail(errno);
    _close(fd);
    if (!bExisted)
        _wunlink(strWide.c_str());
    return CStatus();
}

namespace {

// The volume and the file's index on it; false when it cannot be opened.
bool IdentityOf(const std::string& strPath, BY_HANDLE_FILE_INFORMATION& info)
{
    const HANDLE hFile = CreateFileW(CWideText::Widen(strPath).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    const BOOL bRead = GetFileInformationByHandle(hFile, &info);
    CloseHandle(hFile);
    return bRead != FALSE;
}

}  // namespace

bool CFileWriter::IsSameFile(const std::string& strPathA, const std::string& strPathB)
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return IdentityOf(strPathA, a) && IdentityOf(strPathB, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
