// The section: zero-filled shared memory of its created size, views that outlive the handle.
#include <gtest/gtest.h>

#include <string>

#include "platform/Win32.h"
#include "tests/platform/KernelObjectTestSupport.h"
#include "tests/support/ProcessSupport.h"

using quorvane::test::ChildProcess;
using quorvane::test::Handle;
using quorvane::test::uniqueName;

namespace {

TEST(Section, IsZeroFilledSharedAndKeepsItsCreatedSize) {
    std::string name = uniqueName("section");
    Handle section(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10000, name.c_str()));
    ASSERT_NE(section.value, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(view[i], 0);
    view[9999] = 42;

    ChildProcess child([&](ChildProcess&) {
        HANDLE opened =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 50, name.c_str());
        if (GetLastError() != ERROR_ALREADY_EXISTS) return 1;
        auto* other =
            static_cast<unsigned char*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(other, &info, sizeof info) == 0 || info.RegionSize != 10000) return 2;
        if (other[9999] != 42) return 3;
        other[0] = 7;
        return 0;
    });
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(view[0], 7);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
}

TEST(Section, ViewKeepsSectionAliveAfterItsHandleCloses) {
    std::string name = uniqueName("view");
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str());
    auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view[0] = 'k';
    CloseHandle(section);
    Handle again(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    auto* second = static_cast<char*>(MapViewOfFile(again, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    EXPECT_EQ(second[0], 'k');
    UnmapViewOfFile(second);
    UnmapViewOfFile(view);
}

TEST(Section, SizeZeroAndFileBackingAreRefused) {
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
