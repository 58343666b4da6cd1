#pragma once
#include <string>
#include <vector>

// What the viewer's command line asks for. The viewer takes --help and --version; options of
// Qt's own (single dash, such as -style or -reverse) are accepted and ignored, so they change
// nothing in the window; anything else is a usage error.
struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };

    Action action = Action::Run;
    std::string error;  // for UsageError: what is wrong, one line

    static CommandLine parse(const std::vector<std::string>& arguments);
};

// The texts printed for --help and --version, and the line for a missing display.
std::string viewerHelpText();
std::string viewerVersionText();
// Empty when a display can be reached (or a Qt platform is named); otherwise the line to print.
std::string missingDisplayMessage();
