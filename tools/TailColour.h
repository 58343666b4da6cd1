#pragma once
// Colour for quorvane-tail's lines on a terminal: when to use it, and the line painted with
// ANSI escapes (line number and time dim, each sender key in a colour of its own, the origin in
// cyan, the entry name bold).
#include <cstdint>
#include <string>
#include <string_view>

enum class ColourChoice { Auto, Always, Never };

// The argument of --color ("auto", "always", "never"); false for another.
bool parseColourChoice(const char* argument, ColourChoice& choice);

// Auto colours only a terminal other than "dumb", and only while NO_COLOR is unset or empty
// (https://no-color.org); Always and Never are the user's word over both.
bool useColour(ColourChoice choice, bool outputIsTerminal, const char* noColor, const char* term);

// Appends `line` (the viewer's tab-separated fields, no newline) to `out` with colour.
void appendColouredLine(std::string_view line, std::uint32_t senderKey, std::string& out);
