#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/EntryFormat.h"

namespace {

// Formats through formatEntryText and through the C library into buffers of several sizes,
// both filled with the same pattern first, and expects the same bytes in the whole buffer.
void expectAsCLibrary(const char* format, ...) {
    for (std::size_t size :
         {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{40}, std::size_t{512}}) {
        std::string ours(size, '\x5a');
        std::string theirs(size, '\x5a');
        std::va_list arguments;
        va_start(arguments, format);
        std::va_list copy;
        va_copy(copy, arguments);
        const int length = quorvane::formatEntryText(ours.data(), size, format, arguments);
        const int written = std::vsnprintf(theirs.data(), size, format, copy);
        va_end(copy);
        va_end(arguments);
        EXPECT_EQ(ours, theirs) << "format \"" << format << "\", buffer of " << size;
        EXPECT_EQ(length, written) << "format \"" << format << "\", buffer of " << size;
    }
}

TEST(EntryFormat, IntegersMatchTheCLibraryInEveryFlagWidthPrecisionAndLength) {
    expectAsCLibrary("i=%ld value=%d", 123456789L, -42);
    expectAsCLibrary("%d %d %d %d %i", 0, -1, INT_MIN, INT_MAX, 17);
    expectAsCLibrary("[%5d|%-5d|%05d|%-05d]", 42, 42, -42, 42);
    expectAsCLibrary("[%+d|% d|%+ d|% +d|%+d]", 5, 5, 5, -5, 0);
    expectAsCLibrary("[%.3d|%.0d|%5.0d|%-+8.4d|%08.3d|%.d]", 7, 0, 0, -12, 9, 0);
    expectAsCLibrary("%hhd %hd %ld %lld %zd %jd %td", 300, 70000, LONG_MIN, LLONG_MAX,
                     static_cast<std::size_t>(-3), INTMAX_MIN, static_cast<std::ptrdiff_t>(-9));
    expectAsCLibrary("%hhu %hu %lu %llu %zu %ju", 300u, 70000u, ULONG_MAX, 0ull,
                     static_cast<std::size_t>(12), UINTMAX_MAX);
    expectAsCLibrary("[%x|%X|%#x|%#X|%#x|%o|%#o|%#o|%#.0o|%.0x|%#5.3x|%-#10o]", 255u, 255u, 255u,
                     255u, 0u, 8u, 8u, 0u, 0u, 0u, 10u, 8u);
    expectAsCLibrary("[%*d|%-*d|%*d|%.*d|%.*d|%*.*x]", 6, 1, 6, 2, -6, 3, 4, 5, -1, 6, 8, 3, 255u);
    expectAsCLibrary("%+u % u %+x", 5u, 5u, 5u);
}

TEST(EntryFormat, TextCharactersPointersAndPlainTextMatchTheCLibrary) {
    expectAsCLibrary("plain text with no conversion at all");
    expectAsCLibrary("[%s|%10s|%-10s|%.2s|%10.3s|%-*s|%.*s]", "abc", "abc", "abc", "abc", "abcdef",
                     7, "xy", 3, "abcdef");
    expectAsCLibrary("[%c|%3c|%-3c|%c]", 'a', 'b', 'c', 0x141);
    expectAsCLibrary("%% 100%% %s%%", "done");
    int local = 0;
    expectAsCLibrary("at %p and %p", static_cast<void*>(&local), reinterpret_cast<void*>(1));
    const std::string longText(700, 'q');
    expectAsCLibrary("%s and more", longText.c_str());
    expectAsCLibrary("%s%s%d", "", "", 0);
}

TEST(EntryFormat, WhatItDoesNotDoItselfComesOutAsTheCLibraryWritesIt) {
    expectAsCLibrary("%f %.2e %g %a", 3.25, -1e10, 0.0001, 1.5);
    expectAsCLibrary("%2$d %1$s", "first", 2);
    expectAsCLibrary("[%s|%.3s|%5s]", static_cast<const char*>(nullptr),
                     static_cast<const char*>(nullptr), static_cast<const char*>(nullptr));
    expectAsCLibrary("[%p|%10p|%-12p]", static_cast<void*>(nullptr), static_cast<void*>(nullptr),
                     reinterpret_cast<void*>(0x1234));
    expectAsCLibrary("[%5%|%'d|%lc|%Lf|%08s|%05c]", 1234567, L'x', 1.5L, "z", 'c');
    errno = ENOENT;
    expectAsCLibrary("failed: %m, %d", 3);
    expectAsCLibrary("ends in a lone %");
    expectAsCLibrary("%99999d|%.99999d", 1, 2);
}

}  // namespace
