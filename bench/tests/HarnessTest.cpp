#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/CopyTimer.h"
#include "bench/RoundReport.h"
#include "bench/TempDirectory.h"

namespace {

constexpr const char* kTag = "VIEWERRUN";

std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(RoundReport, AnOkLineAddsEachFigureToItsSamples) {
    std::map<std::string, Samples> figures;
    EXPECT_EQ(takeRoundReport(kTag, "VIEWERRUN ok rate=1000 stall_ms=12.5\n", figures), "");
    EXPECT_EQ(takeRoundReport(kTag, "VIEWERRUN ok rate=3000 stall_ms=7.5\n", figures), "");
    ASSERT_EQ(figures.size(), 2u);
    EXPECT_EQ(figures["rate"].size(), 2u);
    EXPECT_DOUBLE_EQ(figures["rate"].median(), 2000.0);
    EXPECT_DOUBLE_EQ(figures["stall_ms"].max(), 12.5);
}

TEST(RoundReport, AVoidOrBrokenLineAddsNothingAndSaysWhy) {
    std::map<std::string, Samples> figures;
    EXPECT_EQ(takeRoundReport(kTag, "VIEWERRUN void only 12 lines arrived\n", figures),
              "only 12 lines arrived");
    EXPECT_EQ(takeRoundReport(kTag, "", figures), "the round printed nothing");
    EXPECT_EQ(takeRoundReport(kTag, "Segmentation fault", figures), "the round printed no report");
    EXPECT_EQ(takeRoundReport(kTag, "VIEWERRUN ok rate=100 stall_ms=abc", figures),
              "malformed figure stall_ms=abc");
    EXPECT_TRUE(figures.empty());
}

TEST(ProcessStatus, FieldsAreReadInBytes) {
    const std::string status =
        "Name:\tbench\nVmHWM:\t  383464 kB\nVmRSS:\t  380000 kB\nRssAnon:\t  15872 kB\n";
    EXPECT_DOUBLE_EQ(statusFieldBytes(status, "VmHWM"), 383464.0 * 1024);
    EXPECT_DOUBLE_EQ(statusFieldBytes(status, "RssAnon"), 15872.0 * 1024);
    EXPECT_DOUBLE_EQ(statusFieldBytes(status, "RssFile"), 0.0);
    // This process is resident, so its own figures are there and consistent.
    EXPECT_GT(ownStatusBytes("VmRSS"), 0.0);
    EXPECT_GE(ownStatusBytes("VmHWM"), ownStatusBytes("RssAnon"));
}

TEST(TempDirectory, IsFreshUnderItsBaseAndGoesWithItsContents) {
    TempDirectory base;
    ASSERT_TRUE(base.valid());
    std::string inner;
    {
        TempDirectory directory(base.path());
        ASSERT_TRUE(directory.valid());
        inner = directory.path();
        EXPECT_EQ(inner.rfind(base.path() + "/", 0), 0u);
        EXPECT_TRUE(std::filesystem::is_directory(inner));
        std::ofstream(directory.file("a.txt")) << "line\n";
        std::filesystem::create_directory(inner + "/sub");
        std::ofstream(inner + "/sub/b.txt") << "line\n";
        TempDirectory sibling(base.path());
        EXPECT_NE(sibling.path(), inner);
    }
    EXPECT_FALSE(std::filesystem::exists(inner));
    EXPECT_TRUE(std::filesystem::is_directory(base.path()));
}

TEST(CopyTimer, CopiesTheFileWithTheRealCpAndTimesIt) {
    TempDirectory directory;
    ASSERT_TRUE(directory.valid());
    const std::string source = directory.file("source.txt");
    std::string content;
    for (int i = 0; i < 10000; ++i) content += "00042\t7\t10:00:00\torigin\tname(text)\r\n";
    std::ofstream(source, std::ios::binary) << content;

    const double seconds = timeCopy(source, directory.file("copy.txt"));
    EXPECT_GT(seconds, 0.0);
    EXPECT_EQ(readAll(directory.file("copy.txt")), content);
    EXPECT_EQ(fileSize(directory.file("copy.txt")), static_cast<long long>(content.size()));

    // An existing target is replaced, as cp does.
    std::ofstream(directory.file("old.txt")) << "old content that is longer than nothing\n";
    EXPECT_GT(timeCopy(source, directory.file("old.txt")), 0.0);
    EXPECT_EQ(readAll(directory.file("old.txt")), content);
}

TEST(CopyTimer, AFailedCopyReportsNoTime) {
    TempDirectory directory;
    ASSERT_TRUE(directory.valid());
    EXPECT_LT(timeCopy(directory.file("missing.txt"), directory.file("copy.txt")), 0.0);
    EXPECT_EQ(fileSize(directory.file("copy.txt")), -1);
}

}  // namespace
