#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/CSvgPlot.h"

// What every report page of tovrik-cli is made of: its style sheet, its
// head, the summary table's rows, plot sections, and how numbers, instants
// and command lines are written in it. Texts given are escaped here. Any
// thread.
namespace HtmlPage {

// A plot line's look.
struct Colour {
    const char* pszName;
    const char* pszColour;
    const char* pszDash;
};

// From <!DOCTYPE html> to the header's end: the title and a line below it.
std::string Head(const std::string& strTitle, const std::string& strTitleTail, const std::string& strSubtitle);
// The closing footer with its text, and the end of the page.
std::string Foot(const std::string& strText);
// A section: its heading and its content (HTML).
std::string Section(const char* pszHeading, const std::string& strContent);
// A summary table's row: heading and value.
std::string Row(const char* pszHeading, const std::string& strValue);
CSvgPlot::Line MakeLine(const Colour& colour, std::vector<double> values);

std::string Format(const char* pszFormat, double d);
// An argument as a POSIX shell would take it back: as it is when it holds
// nothing the shell treats specially, else in single quotes.
std::string ShellWord(const std::string& strArgument);

}  // namespace HtmlPage
