// The report from stats files it did not write. The input is cut at each NUL
// byte into up to four files; those that read are merged and the page
// written. Whatever the files hold, the page is UTF-8, every '<' in it opens
// or closes one of the page's own elements, and each plot line has a point
// per second of the merged series.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "report/CHtmlReport.h"
#include "report/CStatsMerger.h"
#include "text/CUtf8.h"

namespace {

const std::set<std::string> kElements = {"!DOCTYPE", "html", "head", "meta",   "title", "style",    "body",
                                         "header",   "h1",   "h2",   "p",      "section", "pre",    "table",
                                         "tr",       "th",   "td",   "svg",    "line",  "text",     "rect",
                                         "polyline", "circle", "g",  "footer"};

void CheckPage(const std::string& strHtml, size_t nSeconds)
{
    FUZZ_CHECK(CUtf8::Valid(strHtml) == strHtml);
    for (size_t i = strHtml.find('<'); i != std::string::npos; i = strHtml.find('<', i + 1)) {
        size_t nStart = i + 1;
        if (nStart < strHtml.size() && strHtml[nStart] == '/')
            ++nStart;
        size_t nEnd = nStart;
        while (nEnd < strHtml.size() && strHtml[nEnd] != ' ' && strHtml[nEnd] != '>' && strHtml[nEnd] != '/')
            ++nEnd;
        FUZZ_CHECK(kElements.count(strHtml.substr(nStart, nEnd - nStart)) == 1);
    }
    for (size_t i = strHtml.find("points=\""); i != std::string::npos; i = strHtml.find("points=\"", i + 1)) {
        const size_t nEnd = strHtml.find('"', i + 8);
        size_t nPoints = 1;
        for (size_t j = i + 8; j < nEnd; ++j)
            nPoints += strHtml[j] == ' ' ? 1 : 0;
        FUZZ_CHECK(nPoints == nSeconds);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string_view input(reinterpret_cast<const char*>(pData), nSize);
    CStatsMerger merger;
    size_t nFrom = 0;
    for (int nFile = 0; nFile < 4 && nFrom <= input.size(); ++nFile) {
        const size_t nEnd = nFile == 3 ? input.size() : std::min(input.find('\0', nFrom), input.size());
        const CStatus added = merger.AddText("file" + std::to_string(nFile), input.substr(nFrom, nEnd - nFrom));
        FUZZ_CHECK(added.IsOk() || added.Message().rfind("file" + std::to_string(nFile) + ": ", 0) == 0);
        nFrom = nEnd + 1;
    }
    CRunReport report;
    // Pages of long runs take long to write; the merge is fuzzed all the same.
    if (!merger.Merge(report).IsOk() || report.series.size() > 100000)
        return 0;
    CheckPage(CHtmlReport::Html(report), report.series.size());
    return 0;
}
