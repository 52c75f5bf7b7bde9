#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes one JSON object, member after member, into a text: the one way
// the records (stats files) are written. Keys come in the order written,
// texts are made valid UTF-8 and escaped, numbers are written in the format
// each figure is kept in. One thread.
class CJsonWriter {
public:
    // Opens the object at the end of out.
    explicit CJsonWriter(std::string& out);
    // Closes it.
    void End();

    // The key, ready for a value the caller writes.
    std::string& Key(const char* pszKey);
    void Count(const char* pszKey, uint64_t nValue);
    void Signed(const char* pszKey, int64_t nValue);
    void Number(const char* pszKey, double dValue, const char* pszFormat = "%.3f");
    void Text(const char* pszKey, const std::string& strValue);
    void Flag(const char* pszKey, bool bValue);
    void Null(const char* pszKey);
    void Texts(const char* pszKey, const std::vector<std::string>& values);

    // An array of items at the end of out, each written by append(out, item).
    template <typename Item, typename Append>
    static void Array(std::string& out, const std::vector<Item>& items, Append append)
    {
        out.push_back('[');
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0)
                out.push_back(',');
            append(out, items[i]);
        }
        out.push_back(']');
    }
    // A number in a format, alone ("%.3f").
    static void AppendNumber(std::string& out, double dValue, const char* pszFormat);

private:
    std::string& m_out;
    bool m_bFirst = true;
};
