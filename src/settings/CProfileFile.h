#pragma once

#include <string>

#include "base/CStatus.h"

// Settings in an INI text file, as the Windows profile functions keep them:
// "[section]" lines and "key=value" lines below them; names compare without
// regard to ASCII case, and lines starting with ';' are comments. Writing
// keeps every other line of the file as it was and replaces the file whole,
// so a failed write leaves the old file. Any thread, one file at a time.
// On Windows the system's profile functions do the work (paths UTF-8).
class CProfileFile {
public:
    // Where the program's settings file lives: $XDG_CONFIG_HOME/strName, or
    // ~/.config/strName when that is unset, empty or not an absolute path.
    // Windows: the user's roaming application data, %APPDATA%\Tovrik\strName
    // (the known folder when APPDATA is unset; the profile functions'
    // default, the Windows folder, is not writable without elevated rights).
    static std::string SettingsPath(const std::string& strName);

    // The key's value read as a decimal integer (an optional sign and the
    // leading digits; 0 when there are none); nDefault when the file, the
    // section or the key is missing or the value is empty.
    static int GetInt(const std::string& strSection, const std::string& strKey, int nDefault,
                      const std::string& strPath);
    // The key's value; false when the file, section or key is missing.
    static bool GetString(const std::string& strSection, const std::string& strKey, const std::string& strPath,
                          std::string& strValue);
    // Sets the key to strValue, adding the key, the section, the file and its
    // directory as needed; fails, saying why, when the file cannot be written.
    static CStatus Write(const std::string& strSection, const std::string& strKey, const std::string& strValue,
                         const std::string& strPath);
    // Write as the profile functions answer: false when it failed.
    static bool WriteString(const std::string& strSection, const std::string& strKey, const std::string& strValue,
                            const std::string& strPath)
    {
        return Write(strSection, strKey, strValue, strPath).IsOk();
    }
};
