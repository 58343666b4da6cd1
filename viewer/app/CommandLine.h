#pragma once
#include <string>
#include <vector>

// What the viewer's command line asks for. The viewer takes --help, --version and the names of
// saved logs to open; options of Qt's own (single dash, such as -style or -reverse) are accepted
// and ignored, so they change nothing in the window; any other option is a usage error. After
// "--" every argument is a file name.
struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };

    Action action = Action::Run;
    std::string error;               // for UsageError: what is wrong, one line
    std::vector<std::string> files;  // saved logs to open instead of the live window

    static CommandLine parse(const std::vector<std::string>& arguments);
};

// The texts printed for --help and --version, and the line for a missing display.
std::string viewerHelpText();
std::string viewerVersionText();
// Empty when a display can be reached (or a Qt platform is named); otherwise the line to print.
std::string missingDisplayMessage();
