#include "report/CFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

CStatus Fail(int nError)
{
    return CStatus::Error(std::strerror(nError), nError);
}

}  // namespace

CStatus CFileWriter::Write(const std::string& strPath, std::string_view bytes)
{
    const int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(errno);
    const char* p = bytes.data();
    size_t nLeft = bytes.size();
    while (nLeft > 0) {
        const ssize_t nWritten = write(fd, p, nLeft);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0) {
            const int nError = nWritten < 0 ? errno : EIO;
            close(fd);
            return Fail(nError);
        }
        p += nWritten;
        nLeft -= static_cast<size_t>(nWritten);
    }
    if (close(fd) != 0)
        return Fail(errno);
    return CStatus();
}

CStatus CFileWriter::CanWrite(const std::string& strPath)
{
    struct stat before {};
    const bool bExisted = stat(strPath.c_str(), &before) == 0;
    const int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(errno);
    close(fd);
    if (!bExisted)
        unlink(strPath.c_str());
    return CStatus();
}

bool CFileWriter::IsSameFile(const std::string& strPathA, const std::string& strPathB)
{
    struct stat a {};
    struct stat b {};
    return stat(strPathA.c_str(), &a) == 0 && stat(strPathB.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}
