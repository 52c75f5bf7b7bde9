#pragma once

#include <string>
#include <vector>

// Lists written as one text, "a,b,c". Any thread.
class CTextList {
public:
    // The pieces between the separators, empty ones included: "" gives one
    // empty piece, "a," two.
    static std::vector<std::string> Split(const std::string& strText, char cSeparator);
};
