#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "viewer/app/CQuorvaneApp.h"
#include "viewer/app/CommandLine.h"

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Prints `text` to standard output; a write error (a full device) is a failure.
int printed(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (written) return 0;
    std::fputs("quorvane-viewer: error writing standard output\n", stderr);
    return kExitFailure;
}
}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = CommandLine::parse(std::vector<std::string>(argv, argv + argc));
    switch (line.action) {
        case CommandLine::Action::Help:
            return printed(viewerHelpText());
        case CommandLine::Action::Version:
            return printed(viewerVersionText());
        case CommandLine::Action::UsageError:
            std::fprintf(stderr,
                         "quorvane-viewer: %s\nTry 'quorvane-viewer --help' for more "
                         "information.\n",
                         line.error.c_str());
            return kExitUsage;
        case CommandLine::Action::Run:
            break;
    }
    if (const std::string missing = missingDisplayMessage(); !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return kExitFailure;
    }
    // Qt gets only the program name, so its options cannot change the window.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    QApplication::setDesktopFileName(QStringLiteral("quorvane"));
    CQuorvaneApp theApp;
    if (!line.files.empty()) {
        theApp.runSavedLogs(line.files);
    } else {
        theApp.InitInstance();
    }
    return theApp.exitCode();
}
