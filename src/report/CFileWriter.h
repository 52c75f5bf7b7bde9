#pragma once

#include <string>
#include <string_view>

// Writes whole files by UTF-8 paths. Failures give the system's reason as
// text ("Permission denied", "No such file or directory", ...). Any thread.
class CFileWriter {
public:
    // The file's content replaced by the bytes (created when missing).
    static bool Write(const std::string& strPath, std::string_view bytes, std::string& strReason);
    // Whether the file can be written, asked before a long run rather than
    // after it: opened for appending (created empty when missing, an
    // existing one left as it is) and closed.
    static bool CanWrite(const std::string& strPath, std::string& strReason);
};
