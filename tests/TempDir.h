#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

// A fresh directory under /tmp for one test, removed with its files.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tovrik-test-XXXXXX";
        const char* pszPath = mkdtemp(pattern);
        m_strPath = pszPath != nullptr ? pszPath : "/tmp";
    }
    ~TempDir()
    {
        const std::string command = "rm -rf '" + m_strPath + "'";
        if (m_strPath != "/tmp" && system(command.c_str()) != 0)
            unlink(m_strPath.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string Write(const std::string& strName, const std::string& strContent) const
    {
        const std::string strFile = m_strPath + "/" + strName;
        std::ofstream(strFile, std::ios::binary) << strContent;
        return strFile;
    }

private:
    std::string m_strPath;
};
