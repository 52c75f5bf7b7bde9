#pragma once

#include <string>
#include <string_view>

#include "base/CStatus.h"

// Writes whole files by UTF-8 paths. A failure's message is the system's
// reason ("Permission denied", "No such file or directory", ...), its code
// the errno. Any thread.
class CFileWriter {
public:
    // The file's content replaced by the bytes (created when missing).
    static CStatus Write(const std::string& strPath, std::string_view bytes);
    // Whether the file can be written, asked before a long run rather than
    // after it: opened for appending (created empty when missing, an
    // existing one left as it is) and closed.
    static CStatus CanWrite(const std::string& strPath);
};
