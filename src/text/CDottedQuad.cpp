#include "text/CDottedQuad.h"

#include <vector>

namespace {

std::vector<std::string_view> Fields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t nDot = text.find('.');
        fields.push_back(text.substr(0, nDot));
        if (nDot == std::string_view::npos)
            return fields;
        text.remove_prefix(nDot + 1);
    }
}

// 0-255 in one to three digits; false for anything else.
bool ReadField(std::string_view field, int& nValue)
{
    if (field.empty() || field.size() > 3)
        return false;
    nValue = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
        nValue = nValue * 10 + (c - '0');
    }
    return nValue <= 255;
}

}  // namespace

bool CDottedQuad::IsPrefix(std::string_view text)
{
    const std::vector<std::string_view> fields = Fields(text);
    if (fields.size() > 4)
        return false;
    for (const std::string_view field : fields) {
        int nValue = 0;
        if (!field.empty() && !ReadField(field, nValue))
            return false;
    }
    return true;
}

bool CDottedQuad::IsComplete(std::string_view text)
{
    std::array<uint8_t, 4> bytes{};
    return Read(text, bytes);
}

bool CDottedQuad::Read(std::string_view text, std::array<uint8_t, 4>& bytes)
{
    const std::vector<std::string_view> fields = Fields(text);
    if (fields.size() != 4)
        return false;
    std::array<uint8_t, 4> read{};
    for (size_t i = 0; i < 4; ++i) {
        int nValue = 0;
        if (!ReadField(fields[i], nValue))
            return false;
        read[i] = static_cast<uint8_t>(nValue);
    }
    bytes = read;
    return true;
}

std::string CDottedQuad::Normalized(std::string_view text)
{
    const std::vector<std::string_view> fields = Fields(text);
    std::string strAddress;
    for (size_t i = 0; i < 4; ++i) {
        std::string_view field = i < fields.size() ? fields[i] : std::string_view();
        while (!field.empty() && field.front() == ' ')
            field.remove_prefix(1);
        while (!field.empty() && field.back() == ' ')
            field.remove_suffix(1);
        int nValue = 0;
        if (!ReadField(field, nValue))
            nValue = 0;
        if (i > 0)
            strAddress += '.';
        strAddress += std::to_string(nValue);
    }
    return strAddress;
}
