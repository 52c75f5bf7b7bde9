#pragma once

#include <string>

// Points the settings file's folder somewhere else for one test and puts the
// old one back: $XDG_CONFIG_HOME on Linux, %APPDATA% on Windows. One thread.
class SettingsHome {
public:
    explicit SettingsHome(const std::string& strFolder);
    ~SettingsHome();
    SettingsHome(const SettingsHome&) = delete;
    SettingsHome& operator=(const SettingsHome&) = delete;

private:
    // Sets the variable (unsets it for null).
    static void Set(const std::string* pValue);

    bool m_bHadOld = false;
    std::string m_strOld;
};
