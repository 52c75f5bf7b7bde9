#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

// A fresh directory in the system's temporary folder for one test, removed
// with its files. Paths are UTF-8, so names may hold any characters.
class TempDir {
public:
    TempDir()
    {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        std::random_device random;
        for (int i = 0; i < 100; ++i) {
            m_path = base / ("tovrik-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(m_path, error))
                break;
        }
    }
    ~TempDir()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path() const { return m_path.u8string(); }
    std::string Write(const std::string& strName, const std::string& strContent) const
    {
        const std::string strFile = Path() + "/" + strName;
        WriteFile(strFile, strContent);
        return strFile;
    }

    // Makes the folders above the file as needed.
    static void WriteFile(const std::string& strFile, const std::string& strContent)
    {
        const std::filesystem::path path = std::filesystem::u8path(strFile);
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        std::ofstream(path, std::ios::binary) << strContent;
    }

    // A whole file's bytes; empty when it cannot be read.
    static std::string Read(const std::string& strFile)
    {
        std::ifstream file(std::filesystem::u8path(strFile), std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }
    // The same, or "<missing>" when there is no such file.
    static std::string ReadOrMissing(const std::string& strFile)
    {
        std::error_code error;
        return std::filesystem::exists(std::filesystem::u8path(strFile), error) ? Read(strFile) : "<missing>";
    }

    std::filesystem::path m_path;
};
