#pragma once

#include <string>

// The program's string table (ids in ui/Resource.h).
class CStringTable {
public:
    // The start button's two captions; the control table starts with the first.
    static constexpr char kStart[] = "开始";
    static constexpr char kStop[] = "停止";

    // The text of an entry, or empty text when the id is missing.
    static std::string Load(int nId);
};
