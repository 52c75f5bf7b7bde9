#include "settings/CProfileFile.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdlib>
#include <vector>

#include "text/CWideText.h"

namespace {

// Creates the folders above the file; true when they exist afterwards.
bool MakeDirectories(const std::wstring& strFile)
{
    const size_t nSlash = strFile.find_last_of(L"\\/");
    if (nSlash == std::wstring::npos || nSlash == 0)
        return true;
    const std::wstring strDirectory = strFile.substr(0, nSlash);
    const DWORD nAttributes = GetFileAttributesW(strDirectory.c_str());
    if (nAttributes != INVALID_FILE_ATTRIBUTES)
        return (nAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!MakeDirectories(strDirectory))
        return false;
    return CreateDirectoryW(strDirectory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// What failed, with the system's error number.
CStatus Failure(const std::string& strWhat)
{
    const DWORD nError = GetLastError();
    return CStatus::Error(strWhat + " (error " + std::to_string(nError) + ")", static_cast<int>(nError));
}

}  // namespace

std::string CProfileFile::SettingsPath(const std::string& strName)
{
    // %APPDATA% names that folder; the known folder stands in where it is
    // unset.
    const wchar_t* pAppData = _wgetenv(L"APPDATA");
    std::wstring strFolder = pAppData != nullptr ? pAppData : L"";
    if (strFolder.empty()) {
        wchar_t* pFolder = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &pFolder)))
            strFolder = pFolder;
        CoTaskMemFree(pFolder);
    }
    if (strFolder.empty())
        strFolder = L".";
    return CWideText::Narrow(strFolder) + "\\Tovrik\\" + strName;
}

int CProfileFile::GetInt(const std::string& strSection, const std::string& strKey, int nDefault,
                         const std::string& strPath)
{
    return static_cast<int>(GetPrivateProfileIntW(CWideText::Widen(strSection).c_str(),
                                                  CWideText::Widen(strKey).c_str(), nDefault,
                                                  CWideText::Widen(strPath).c_str()));
}

bool CProfileFile::GetString(const std::string& strSection, const std::string& strKey, const std::string& strPath,
                             std::string& strValue)
{
    // A default that no file holds tells a missing key from an empty value.
    static const wchar_t kMissing[] = L"\x01missing\x01";
    std::vector<wchar_t> buffer(4096);
    GetPrivateProfileStringW(CWideText::Widen(strSection).c_str(), CWideText::Widen(strKey).c_str(), kMissing,
                             buffer.data(), static_cast<DWORD>(buffer.size()), CWideText::Widen(strPath).c_str());
    const std::wstring strRead = buffer.data();
    if (strRead == kMissing)
        return false;
    strValue = CWideText::Narrow(strRead);
    return true;
}

CStatus CProfileFile::Write(const std::string& strSection, const std::string& strKey, const std::string& strValue,
                            const std::string& strPath)
{
    const std::wstring strFile = CWideText::Widen(strPath);
    if (!MakeDirectories(strFile))
        return Failure("cannot make the folder of " + strPath);
    if (!WritePrivateProfileStringW(CWideText::Widen(strSection).c_str(), CWideText::Widen(strKey).c_str(),
                                    CWideText::Widen(strValue).c_str(), strFile.c_str()))
        return Failure("cannot write " + strPath);
    return CStatus();
}
