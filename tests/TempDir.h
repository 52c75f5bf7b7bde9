#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
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
        WriteFile(strFile, strContent);
        return strFile;
    }

    static void WriteFile(const std::string& strPath, const std::string& strContent)
    {
        std::ofstream(strPath, std::ios::binary) << strContent;
    }
    // A file's bytes, or "<missing>" when it cannot be opened.
    static std::string ReadFile(const std::string& strPath)
    {
        std::ifstream file(strPath, std::ios::binary);
        if (!file)
            return "<missing>";
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

private:
    std::string m_strPath;
};
