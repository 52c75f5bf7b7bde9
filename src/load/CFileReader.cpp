#include "load/CFileReader.h"

#include <new>

CStatus CFileReader::ReadAll(const std::string& strPath, int64_t nMaxBytes, const char* pszWhat, std::string& text)
{
    const std::string strTooLarge =
        std::string("larger than ") + pszWhat + " can be (" + std::to_string(nMaxBytes) + " bytes)";
    CFileReader reader;
    const CStatus opened = reader.Open(strPath);
    if (!opened.IsOk())
        return opened;
    if (reader.Size() > nMaxBytes)
        return CStatus::Error(strTooLarge);
    text.clear();
    try {
        char piece[65536];
        for (;;) {
            int64_t nRead = 0;
            const CStatus read = reader.Read(piece, sizeof piece, nRead);
            if (!read.IsOk())
                return read;
            if (nRead == 0)
                return CStatus();
            text.append(piece, static_cast<size_t>(nRead));
            if (static_cast<int64_t>(text.size()) > nMaxBytes)
                return CStatus::Error(strTooLarge);
        }
    } catch (const std::bad_alloc&) {
        return CStatus::Error("not enough memory to read it");
    }
}
