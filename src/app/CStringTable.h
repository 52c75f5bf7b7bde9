#pragma once

#include <string>

// The program's string table.
class CStringTable {
public:
    // The text of an entry, or empty text when the id is missing.
    static std::string Load(int nId);
};
