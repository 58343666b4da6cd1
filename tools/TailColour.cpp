#include "tools/TailColour.h"

#include <array>

namespace {

constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kDim = "\x1b[2m";
constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kCyan = "\x1b[36m";
// Red, green, yellow, blue, magenta and bright blue: one per sender key, in turn. Cyan is the
// origin's.
constexpr std::array<std::string_view, 6> kSenderColours = {"\x1b[31m", "\x1b[32m", "\x1b[33m",
                                                            "\x1b[34m", "\x1b[35m", "\x1b[94m"};

// Appends the field of `line` that starts at `start` (up to its tab or the end) painted with
// `colour`, and returns where the next field starts (npos at the end).
std::size_t appendField(std::string_view line, std::size_t start, std::string_view colour,
                        std::string& out) {
    const std::size_t tab = line.find('\t', start);
    const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
    out += colour;
    out.append(line.substr(start, end - start));
    out += kReset;
    if (tab == std::string_view::npos) return std::string_view::npos;
    out += '\t';
    return tab + 1;
}

}  // namespace

bool parseColourChoice(const char* argument, ColourChoice& choice) {
    const std::string_view name(argument);
    if (name == "auto") {
        choice = ColourChoice::Auto;
    } else if (name == "always") {
        choice = ColourChoice::Always;
    } else if (name == "never") {
        choice = ColourChoice::Never;
    } else {
        return false;
    }
    return true;
}

bool useColour(ColourChoice choice, bool outputIsTerminal, const char* noColor, const char* term) {
    if (choice != ColourChoice::Auto) return choice == ColourChoice::Always;
    if (noColor != nullptr && *noColor != '\0') return false;
    return outputIsTerminal && !(term != nullptr && std::string_view(term) == "dumb");
}

void appendColouredLine(std::string_view line, std::uint32_t senderKey, std::string& out) {
    const std::array<std::string_view, 4> colours = {
        kDim, kSenderColours[senderKey % kSenderColours.size()], kDim, kCyan};
    std::size_t at = 0;
    for (const std::string_view colour : colours) {
        at = appendField(line, at, colour, out);
        if (at == std::string_view::npos) return;
    }
    // The entry: its indentation as it is, then the name bold up to the text's parenthesis.
    const std::size_t name = line.find_first_not_of('\t', at);
    if (name == std::string_view::npos) {
        out.append(line.substr(at));
        return;
    }
    out.append(line.substr(at, name - at));
    const std::size_t text = line.find('(', name);
    const std::size_t nameEnd = text == std::string_view::npos ? line.size() : text;
    out += kBold;
    out.append(line.substr(name, nameEnd - name));
    out += kReset;
    if (text != std::string_view::npos) out.append(line.substr(text));
}
