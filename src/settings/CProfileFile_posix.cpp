#include "settings/CProfileFile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string Trim(const std::string& strText)
{
    const char* const kSpace = " \t";
    const size_t nBegin = strText.find_first_not_of(kSpace);
    if (nBegin == std::string::npos)
        return std::string();
    return strText.substr(nBegin, strText.find_last_not_of(kSpace) - nBegin + 1);
}

bool SameName(const std::string& strA, const std::string& strB)
{
    if (strA.size() != strB.size())
        return false;
    for (size_t i = 0; i < strA.size(); ++i) {
        char a = strA[i];
        char b = strB[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// The file's lines without their line ends; bCrLf tells whether it used CR LF.
bool ReadLines(const std::string& strPath, std::vector<std::string>& lines, bool& bCrLf)
{
    std::ifstream file(strPath, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    const std::string strContent = content.str();
    bCrLf = strContent.find("\r\n") != std::string::npos;
    size_t nStart = 0;
    while (nStart < strContent.size()) {
        size_t nEnd = strContent.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strContent.size();
        std::string strLine = strContent.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        lines.push_back(std::move(strLine));
        nStart = nEnd + 1;
    }
    return true;
}

// The section's name when the line is a section header.
bool SectionName(const std::string& strLine, std::string& strName)
{
    const std::string strTrimmed = Trim(strLine);
    if (strTrimmed.empty() || strTrimmed.front() != '[')
        return false;
    const size_t nClose = strTrimmed.find(']');
    if (nClose == std::string::npos)
        return false;
    strName = Trim(strTrimmed.substr(1, nClose - 1));
    return true;
}

// The key and value when the line is a key line.
bool KeyLine(const std::string& strLine, std::string& strKey, std::string& strValue)
{
    const std::string strTrimmed = Trim(strLine);
    if (strTrimmed.empty() || strTrimmed.front() == ';')
        return false;
    const size_t nEquals = strTrimmed.find('=');
    if (nEquals == std::string::npos)
        return false;
    strKey = Trim(strTrimmed.substr(0, nEquals));
    strValue = Trim(strTrimmed.substr(nEquals + 1));
    if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"')
        strValue = strValue.substr(1, strValue.size() - 2);
    return true;
}

bool MakeDirectories(const std::string& strDirectory)
{
    if (strDirectory.empty())
        return true;
    struct stat info {};
    if (stat(strDirectory.c_str(), &info) == 0) {
        errno = ENOTDIR;
        return S_ISDIR(info.st_mode);
    }
    const size_t nSlash = strDirectory.find_last_of('/');
    if (nSlash != std::string::npos && nSlash > 0 && !MakeDirectories(strDirectory.substr(0, nSlash)))
        return false;
    return mkdir(strDirectory.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string CProfileFile::SettingsPath(const std::string& strName)
{
    const char* pConfig = std::getenv("XDG_CONFIG_HOME");
    if (pConfig != nullptr && pConfig[0] == '/')
        return std::string(pConfig) + "/" + strName;
    const char* pHome = std::getenv("HOME");
    std::string strHome = pHome != nullptr ? pHome : "";
    if (strHome.empty()) {
        const passwd* pEntry = getpwuid(getuid());
        if (pEntry != nullptr && pEntry->pw_dir != nullptr)
            strHome = pEntry->pw_dir;
    }
    return strHome + "/.config/" + strName;
}

bool CProfileFile::GetString(const std::string& strSection, const std::string& strKey, const std::string& strPath,
                             std::string& strValue)
{
    std::vector<std::string> lines;
    bool bCrLf = false;
    if (!ReadLines(strPath, lines, bCrLf))
        return false;
    bool bInSection = false;
    for (const std::string& strLine : lines) {
        std::string strName;
        std::string strLineValue;
        if (SectionName(strLine, strName))
            bInSection = SameName(strName, strSection);
        else if (bInSection && KeyLine(strLine, strName, strLineValue) && SameName(strName, strKey)) {
            strValue = strLineValue;
            return true;
        }
    }
    return false;
}

int CProfileFile::GetInt(const std::string& strSection, const std::string& strKey, int nDefault,
                         const std::string& strPath)
{
    std::string strValue;
    if (!GetString(strSection, strKey, strPath, strValue) || strValue.empty())
        return nDefault;
    errno = 0;
    char* pEnd = nullptr;
    const long nValue = std::strtol(strValue.c_str(), &pEnd, 10);
    if (pEnd == strValue.c_str())
        return 0;
    if (nValue > INT_MAX || (errno == ERANGE && nValue > 0))
        return INT_MAX;
    if (nValue < INT_MIN || (errno == ERANGE && nValue < 0))
        return INT_MIN;
    return static_cast<int>(nValue);
}

CStatus CProfileFile::Write(const std::string& strSection, const std::string& strKey, const std::string& strValue,
                            const std::string& strPath)
{
    std::vector<std::string> lines;
    bool bCrLf = false;
    ReadLines(strPath, lines, bCrLf);

    const std::string strEntry = strKey + "=" + strValue;
    bool bInSection = false;
    bool bDone = false;
    // Just after the section's last key line, or its header.
    size_t nInsertAt = std::string::npos;
    for (size_t i = 0; i < lines.size() && !bDone; ++i) {
        std::string strName;
        std::string strLineValue;
        if (SectionName(lines[i], strName)) {
            if (bInSection)
                break;
            bInSection = SameName(strName, strSection);
            if (bInSection)
                nInsertAt = i + 1;
        } else if (bInSection && KeyLine(lines[i], strName, strLineValue)) {
            if (SameName(strName, strKey)) {
                lines[i] = strEntry;
                bDone = true;
            }
            nInsertAt = i + 1;
        }
    }
    if (!bDone && nInsertAt != std::string::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(nInsertAt), strEntry);
    } else if (!bDone) {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.emplace_back();
        lines.push_back("[" + strSection + "]");
        lines.push_back(strEntry);
    }

    const size_t nSlash = strPath.find_last_of('/');
    if (nSlash != std::string::npos && !MakeDirectories(strPath.substr(0, nSlash)))
        return CStatus::FromErrno("cannot make the folder of " + strPath, errno);
    const std::string strTemporary = strPath + ".tmp";
    {
        std::ofstream file(strTemporary, std::ios::binary | std::ios::trunc);
        if (!file)
            return CStatus::FromErrno("cannot write " + strTemporary, errno);
        const char* pLineEnd = bCrLf ? "\r\n" : "\n";
        for (const std::string& strLine : lines)
            file << strLine << pLineEnd;
        file.flush();
        if (!file) {
            const int nError = errno;
            std::remove(strTemporary.c_str());
            return CStatus::FromErrno("cannot write " + strTemporary, nError);
        }
    }
    if (std::rename(strTemporary.c_str(), strPath.c_str()) != 0) {
        const int nError = errno;
        std::remove(strTemporary.c_str());
        return CStatus::FromErrno("cannot replace " + strPath, nError);
    }
    return CStatus();
}
