#include "report/HtmlPage.h"

#include <cinttypes>
#include <cstdio>

#include "report/CHtmlText.h"
#include "time/CCalendar.h"

namespace {

constexpr char kStyle[] =
    "body{font-family:system-ui,'DejaVu Sans',sans-serif;margin:0 auto;max-width:1000px;padding:16px 24px;"
    "color:#222;background:#fff}"
    "h1{font-size:1.5em;margin:0.2em 0}h2{font-size:1.1em;margin:1.6em 0 0.4em}"
    ".sub{color:#555;margin:0 0 1em}"
    "pre.cmd{background:#f4f4f4;border:1px solid #ddd;padding:8px;white-space:pre-wrap;overflow-wrap:anywhere;"
    "margin:0.3em 0 0.8em}"
    ".shard{color:#555;margin:0.6em 0 0}"
    "table.summary{border-collapse:collapse}table.summary th{text-align:left;font-weight:600;padding:3px 16px 3px 0;"
    "vertical-align:top}table.summary td{padding:3px 0;font-variant-numeric:tabular-nums}"
    "table.verdicts{border-collapse:collapse}table.verdicts th,table.verdicts td{text-align:left;"
    "padding:3px 24px 3px 0;font-variant-numeric:tabular-nums}"
    "svg.plot{width:100%;height:auto;display:block}"
    "svg .grid{stroke:#e4e4e4;stroke-width:1}svg .axis{stroke:#888;stroke-width:1}"
    "svg .frame{fill:none;stroke:#888;stroke-width:1}"
    "svg .series{fill:none;stroke-width:1.6;stroke-linejoin:round}svg .key{stroke-width:2.5}"
    "svg .bar{fill:#4c78a8}svg text{font-size:13px;fill:#333}svg .title{font-size:13px;fill:#555}"
    "svg .empty{font-size:16px;fill:#999}"
    "footer{color:#777;font-size:0.85em;margin:2em 0 1em}";

}  // namespace

std::string HtmlPage::Head(const std::string& strTitle, const std::string& strTitleTail, const std::string& strSubtitle)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           CHtmlText::Escape(strTitle) + ", " + CHtmlText::Escape(strTitleTail) + "</title>\n<style>" + kStyle +
           "</style>\n</head>\n<body>\n<header>\n<h1>" + CHtmlText::Escape(strTitle) + "</h1>\n<p class=\"sub\">" +
           CHtmlText::Escape(strSubtitle) + "</p>\n</header>\n";
}

std::string HtmlPage::Foot(const std::string& strText)
{
    return "<footer>" + CHtmlText::Escape(strText) + "</footer>\n</body>\n</html>\n";
}

CSvgPlot::Line HtmlPage::MakeLine(const Colour& colour, std::vector<double> values)
{
    return CSvgPlot::Line{colour.pszName, colour.pszColour, colour.pszDash, std::move(values)};
}

std::string HtmlPage::Section(const char* pszHeading, const std::string& strContent)
{
    return std::string("<section>\n<h2>") + pszHeading + "</h2>\n" + strContent + "</section>\n";
}

std::string HtmlPage::Row(const char* pszHeading, const std::string& strValue)
{
    return std::string("<tr><th>") + pszHeading + "</th><td>" + CHtmlText::Escape(strValue) + "</td></tr>\n";
}

std::string HtmlPage::Format(const char* pszFormat, double d)
{
    char text[64];
    std::snprintf(text, sizeof text, pszFormat, d);
    return text;
}

std::string HtmlPage::ShellWord(const std::string& strArgument)
{
    bool bPlain = !strArgument.empty();
    for (const char c : strArgument) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              std::string("_-.,/:=+@%").find(c) != std::string::npos))
            bPlain = false;
    }
    if (bPlain)
        return strArgument;
    std::string out = "'";
    for (const char c : strArgument) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}
