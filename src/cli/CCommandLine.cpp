#include "cli/CCommandLine.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> CCommandLine::Split(const std::string& strLine)
{
    std::vector<std::string> args;
    size_t i = 0;
    const size_t nLength = strLine.size();
    // The program's name: quotes group, nothing escapes.
    std::string strProgram;
    bool bQuoted = false;
    for (; i < nLength && (bQuoted || !IsBlank(strLine[i])); ++i) {
        if (strLine[i] == '"')
            bQuoted = !bQuoted;
        else
            strProgram += strLine[i];
    }
    args.push_back(strProgram);

    for (;;) {
        while (i < nLength && IsBlank(strLine[i]))
            ++i;
        if (i >= nLength)
            return args;
        std::string strArg;
        bQuoted = false;
        while (i < nLength && (bQuoted || !IsBlank(strLine[i]))) {
            size_t nBackslashes = 0;
            while (i < nLength && strLine[i] == '\\') {
                ++nBackslashes;
                ++i;
            }
            if (i < nLength && strLine[i] == '"') {
                strArg.append(nBackslashes / 2, '\\');
                if (nBackslashes % 2 != 0) {
                    strArg += '"';
                } else if (bQuoted && i + 1 < nLength && strLine[i + 1] == '"') {
                    strArg += '"';
                    ++i;
                } else {
                    bQuoted = !bQuoted;
                }
                ++i;
            } else {
                strArg.append(nBackslashes, '\\');
                if (i < nLength && (bQuoted || !IsBlank(strLine[i])))
                    strArg += strLine[i++];
            }
        }
        args.push_back(strArg);
    }
}
