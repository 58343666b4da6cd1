#pragma once
#include <QString>
#include <string_view>

// A line's bytes as the viewer shows them, copies them and searches them: each field (the text
// between tabs) that is valid UTF-8 reads as UTF-8, any other as Latin-1, so that every byte
// shows as one character and none as a replacement mark. The lines keep their bytes: the saved
// file and quorvane-tail write them as they came.
//
// A line of ASCII alone, most lines, is widened without a look at UTF-8.
QString lineText(std::string_view line);

// True when every byte of `bytes` is ASCII; looks at eight bytes at a time.
bool isAscii(std::string_view bytes);

// The field that holds the program of a line the live window made (after the line number, the
// sender and the time), or -1 for a line of another shape.
int programField(std::string_view line);
