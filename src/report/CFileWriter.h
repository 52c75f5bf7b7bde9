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
    // after it: opened for appending and closed; an existing file is left as
    // it is, one that was missing is removed again.
    static CStatus CanWrite(const std::string& strPath);
    // Whether both paths name one existing file (also through a link or
    // another spelling of the path).
    static bool IsSameFile(const std::string& strPathA, const std::string& strPathB);
};
