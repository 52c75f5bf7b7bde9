#pragma once

#include <cstdio>
#include <string>

// tovrik-cli's standard streams. Texts are UTF-8: a Windows console is given
// them as wide characters, so that they show whatever its code page; a pipe
// or a file gets the bytes, as on POSIX, so that scripts read the same
// output on both. Main thread, or one writer per stream.
class CConsole {
public:
    // Puts the standard streams into binary mode on Windows (no CR before
    // each LF); nothing on POSIX. Call once at start.
    static void Setup();
    // Writes the text to the stream, which is stdout or stderr.
    static void Write(std::FILE* pStream, const std::string& strText);
    // Whether the stream is a terminal (a console on Windows), where a
    // status line can be redrawn in place.
    static bool IsTerminal(std::FILE* pStream);
};
