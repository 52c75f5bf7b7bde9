#pragma once

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
