#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

// What a command's option parser made of a command line, and what it said
// on its error stream.
template <typename Options>
struct ParsedArgs {
    std::optional<int> nExit;
    std::string err;
    Options options;
};

// Runs parse, a command's Parse(argc, argv, nExit, out, err), on args, the
// program's name first.
template <typename Options, typename ParseFn>
ParsedArgs<Options> ParseArgs(ParseFn parse, std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    ParsedArgs<Options> parsed;
    std::ostringstream out;
    std::ostringstream err;
    parsed.options = parse(static_cast<int>(argv.size()), argv.data(), parsed.nExit, out, err);
    parsed.err = err.str();
    return parsed;
}

// A command line and what its usage error says (empty: it is no error).
struct UsageCase {
    std::vector<std::string> args;
    std::string strSays;
};

// Each case through parse (a function of the arguments answering a
// ParsedArgs): a usage error, exit nUsageExit, whose message says the case's
// words, or no error at all.
template <typename ParseFn>
void ExpectUsageErrors(const std::vector<UsageCase>& cases, ParseFn parse, int nUsageExit)
{
    for (const UsageCase& c : cases) {
        const auto parsed = parse(c.args);
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        if (c.strSays.empty()) {
            EXPECT_FALSE(parsed.nExit) << parsed.err;
            continue;
        }
        EXPECT_EQ(parsed.nExit, nUsageExit);
        EXPECT_NE(parsed.err.find(c.strSays), std::string::npos) << parsed.err;
    }
}
