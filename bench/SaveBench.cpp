// Saving benchmark: the viewer's LogFileWriter writing 1,000,000 lines of the realistic mix from
// the log list model, against /bin/cp copying a file of the same size, interleaved run by run.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/RecordMix.h"
#include "bench/TempDirectory.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "viewer/CLogListModel.h"
#include "viewer/LogFileWriter.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultLines = 1'000'000;
constexpr int kDefaultRounds = 5;
constexpr double kTargetRatio = 0.5;
constexpr double kBytesPerMegabyte = 1e6;
constexpr const char* kCopyProgram = "/bin/cp";

using Clock = std::chrono::steady_clock;

std::uint64_t environmentNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    const unsigned long long value = std::strtoull(text, nullptr, 10);
    return value > 0 ? value : fallback;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Size of a file, or -1 when it is not there.
long long fileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Fills the model as the viewer does by default (newest line on top) and returns the number of
// bytes the saved file must have.
std::uint64_t fillModel(CLogListModel& model, std::uint32_t lines) {
    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    DepthTable depths;
    std::int32_t currentDepth = 0;
    LineFormatter formatter(depths, currentDepth);
    std::string saved;
    std::uint64_t savedBytes = 0;
    for (std::uint32_t line = 1; line <= lines; ++line) {
        const std::string_view text = formatter.formatLine(mix[(line - 1) % mix.size()], line);
        model.insertLine(text, true);
        formatter.storeDepth();
        saved.clear();
        LogFileWriter::appendSavedLine(saved, text);
        savedBytes += saved.size();
    }
    return savedBytes;
}

// Forces the copy to disk, as the viewer's save does before it puts the file in place.
bool syncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// Runs /bin/cp from `source` to `target`, and with `thenSync` forces the copy to disk; returns the
// wall time, or a negative value when the copy failed.
double timeCopy(const std::string& source, const std::string& target, bool thenSync) {
    std::fflush(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) return -1.0;
    if (child == 0) {
        execl(kCopyProgram, "cp", source.c_str(), target.c_str(), static_cast<char*>(nullptr));
        execlp("cp", "cp", source.c_str(), target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1.0;
    if (thenSync && !syncFile(target)) return -1.0;
    return secondsSince(start);
}

// One timed copy of the saved file, starting with nothing left to write back.
void copyRun(const std::string& copyPath, const std::string& savedPath, long long savedSize,
             bool thenSync, Samples& rates, std::vector<std::string>& failures, int round) {
    std::remove(copyPath.c_str());
    sync();
    const double seconds = timeCopy(savedPath, copyPath, thenSync);
    if (seconds <= 0.0 || fileSize(copyPath) != savedSize) {
        failures.push_back("round " + std::to_string(round + 1) + ": cp failed");
        return;
    }
    rates.add(savedSize / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const auto lines =
        static_cast<std::uint32_t>(environmentNumber("QUORVANE_BENCH_SAVE_LINES", kDefaultLines));
    const int rounds = static_cast<int>(environmentNumber("QUORVANE_BENCH_ROUNDS", kDefaultRounds));

    BenchReport report;
    if (!quietMachine(argc, argv)) report.machine();
    TempDirectory directory;
    if (!directory.valid()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    const std::string savedPath = directory.file("saved.txt");
    const std::string copyPath = directory.file("copy.txt");

    CLogListModel model;
    const std::uint64_t expectedBytes = fillModel(model, lines);
    LogFileWriter writer;
    Samples ours;
    Samples copies;
    Samples syncedCopies;
    std::vector<std::string> failures;
    for (int round = 0; round < rounds; ++round) {
        std::remove(savedPath.c_str());
        sync();
        const Clock::time_point start = Clock::now();
        const bool written = writer.write(QString::fromStdString(savedPath), model, lines, true);
        const double saveSeconds = secondsSince(start);
        const long long savedSize = fileSize(savedPath);
        if (!written || savedSize != static_cast<long long>(expectedBytes)) {
            failures.push_back("round " + std::to_string(round + 1) + ": the save wrote " +
                               std::to_string(savedSize) + " bytes, expected " +
                               std::to_string(expectedBytes));
            continue;
        }
        ours.add(savedSize / saveSeconds);

        copyRun(copyPath, savedPath, savedSize, false, copies, failures, round);
        copyRun(copyPath, savedPath, savedSize, true, syncedCopies, failures, round);
    }

    report.section("saving: " + std::to_string(lines) + " lines (" +
                   unitText(static_cast<double>(expectedBytes), Unit::Bytes) +
                   " file) through LogFileWriter vs cp of the saved file; " +
                   std::to_string(rounds) + " interleaved rounds, MB/s");
    report.comparison("LogFileWriter::write", ours, "/bin/cp of the saved file", copies,
                      Unit::BytesPerSecond);
    report.comparison("LogFileWriter::write", ours, "/bin/cp, then fsync of the copy", syncedCopies,
                      Unit::BytesPerSecond);
    for (const std::string& failure : failures) report.note("void run, " + failure);
    report.result(resultLine("save_vs_cp_mb_per_s", ours.median() / kBytesPerMegabyte,
                             copies.median() / kBytesPerMegabyte, kTargetRatio, Better::Higher));
    report.finish();
    return 0;
}
