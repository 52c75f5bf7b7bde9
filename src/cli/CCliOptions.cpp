#include "cli/CCliOptions.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace {

const char* const kModeNames[] = {"1s", "10s", "1min", "1h", "100ms", "replay", "10ms"};

}  // namespace

int CCliOptions::ModeFromText(const std::string& strText)
{
    for (int i = 0; i < 7; ++i) {
        if (strText == kModeNames[i] || strText == std::to_string(i))
            return i;
    }
    return -1;
}

CCliOptions CCliOptions::Parse(int argc, char** argv, std::optional<int>& nExit)
{
    CCliOptions options;
    std::string strMode = "0";
    bool bNoLoop = false;
    bool bNoModifyTime = false;

    CLI::App app{"Stands in for a field device: sends JSON device messages, one per UDP datagram.", "tovrik-cli"};
    // "/path" is a file name on every platform, not a Windows-style option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("tovrik-cli ") + TOVRIK_VERSION);
    app.add_option("-t,--target", options.strTarget, "Target IPv4 address or host name")->capture_default_str();
    app.add_option("-p,--port", options.nPort, "Target UDP port")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("-m,--mode", strMode, "Send mode: 0-6 or 1s, 10s, 1min, 1h, 100ms, replay, 10ms")
        ->check(CLI::Validator(
            [](std::string& strValue) {
                return ModeFromText(strValue) < 0 ? std::string("unknown mode '") + strValue + "'" : std::string();
            },
            "MODE"))
        ->capture_default_str();
    app.add_flag("--no-loop", bNoLoop, "Send the packets once instead of in a loop");
    app.add_flag("--no-modify-time", bNoModifyTime, "Send the packets as cut, without a fresh \"time\"");
    app.add_flag("--hex", options.bHex, "The text is hexadecimal digits spelling the bytes");
    auto* pText = app.add_option("--text", options.strText, "The messages to send (default: the status message)");
    auto* pTextFile = app.add_option("--text-file", options.strTextFile, "Read the messages to send from a file");
    auto* pImport = app.add_option("--import", options.strImport, "Import a message file (as the import button)");
    pText->excludes(pTextFile)->excludes(pImport);
    pTextFile->excludes(pImport);
    app.add_option("--stop-after", options.dStopAfter, "Stop after this many seconds")->check(CLI::NonNegativeNumber);
    app.add_flag("--dry-run", options.bDryRun, "Load and report, send nothing");
    app.add_flag("-q,--quiet", options.bQuiet, "No line per datagram and no summary");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        nExit = app.exit(e);
        return options;
    } catch (const CLI::CallForVersion& e) {
        nExit = app.exit(e);
        return options;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        nExit = kExitUsage;
        return options;
    }
    options.nMode = ModeFromText(strMode);
    options.bLoop = !bNoLoop;
    options.bModifyTime = !bNoModifyTime;
    return options;
}
