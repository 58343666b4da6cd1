#include "viewer/app/CommandLine.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "resources/Version.h"

namespace {

// Qt's own options that take a value in the next argument.
constexpr std::array<std::string_view, 14> kQtOptionsWithValue = {
    "-platform",    "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowicon", "-qwindowtitle",       "-stylesheet",    "-style",  "-session",
    "-display",     "-geometry",           "-title",         "-name"};

bool isQtOptionWithValue(std::string_view argument) {
    for (std::string_view option : kQtOptionsWithValue)
        if (argument == option) return true;
    return false;
}

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            line.files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            line.action = Action::Help;
            return line;
        }
        if (argument == "--version") {
            line.action = Action::Version;
            return line;
        }
        if (argument[1] != '-') {
            // Qt's option: skip it and its value.
            if (isQtOptionWithValue(argument)) ++i;
            continue;
        }
        line.action = Action::UsageError;
        line.error = "unrecognized option '" + argument + "'";
        return line;
    }
    return line;
}

std::string viewerHelpText() {
    return "Usage: quorvane-viewer [OPTION]... [FILE]...\n"
           "Show the trace records that running programs post into the Quorvane mailbox, as\n"
           "numbered lines indented by each sender's call depth, and save them as a\n"
           "tab-delimited text file.\n"
           "With FILEs, show each saved log in a read-only window of its own instead; the\n"
           "mailbox is not opened then.\n"
           "\n"
           "  -h, --help     display this help and exit\n"
           "      --version  output version information and exit\n"
           "      --         take every later argument as a FILE\n"
           "\n"
           "Options of Qt's own (-style, -platform and the like) are accepted and ignored.\n"
           "\n"
           "The mailbox is named by the environment variable QUORVANE_MAILBOX (default:\n"
           "QuorvaneTraceMailbox). The viewer needs a display: an X11 or Wayland session, or\n"
           "a virtual one such as xvfb-run.\n"
           "\n"
           "Exit status: 0 when the window was closed (with FILEs: when at least one opened\n"
           "and every window was closed), 1 when the mailbox or no FILE could be opened or\n"
           "no display was found, 2 for a usage error.\n";
}

std::string viewerVersionText() {
    return std::string("quorvane-viewer (Quorvane) ") + QuorvaneVersion::kNumber + "\n" +
           QuorvaneVersion::kNotice;
}

std::string missingDisplayMessage() {
    // A platform named outright (offscreen, xcb with its own -display) is Qt's business.
    if (environmentSet("QT_QPA_PLATFORM") || environmentSet("DISPLAY") ||
        environmentSet("WAYLAND_DISPLAY"))
        return {};
    return "quorvane-viewer: no display: DISPLAY and WAYLAND_DISPLAY are not set; run it in a "
           "desktop session or under xvfb-run";
}
