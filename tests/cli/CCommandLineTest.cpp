#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CCommandLine.h"

namespace {

using Args = std::vector<std::string>;

TEST(CCommandLineTest, SplitsAsTheCRuntimeDoes)
{
    struct Case {
        std::string strLine;
        Args args;
    };
    const Case cases[] = {
        {R"("C:\Program Files\t\tovrik-cli.exe" -p  51609)", {R"(C:\Program Files\t\tovrik-cli.exe)", "-p", "51609"}},
        // The program's name takes no escapes; quotes anywhere in it group.
        {R"(C:\a\"b c"\x.exe)", {R"(C:\a\b c\x.exe)"}},
        {"tovrik-cli\t--text \"{\\\"IMEI\\\":\\\"设备\\\"}\"  ", {"tovrik-cli", "--text", "{\"IMEI\":\"设备\"}"}},
        {R"(p "a b"c d"e f")", {"p", "a bc", "de f"}},
        {R"(p "" x "")", {"p", "", "x", ""}},
        // Backslashes count only before a quote.
        {R"(p a\\b \\\"q "c:\dir\\" x\\\\"y z" \)", {"p", R"(a\\b)", R"(\"q)", R"(c:\dir\)", R"(x\\y z)", "\\"}},
        // "" inside quotes is one quote, and the quotes go on.
        {R"(p "say ""hi"" now" next)", {"p", R"(say "hi" now)", "next"}},
        {R"(p "open)", {"p", "open"}},
        {"", {""}},
    };
    for (const Case& test : cases)
        EXPECT_EQ(CCommandLine::Split(test.strLine), test.args) << test.strLine;
}

}  // namespace
