#pragma once
// What the export tests share: a private folder, an export run to its end and read back, and
// jq (a real consumer of both formats) run over the result.

#include <gtest/gtest.h>

#include <QString>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/LineExport.h"

namespace exporttest {

// A folder of its own for each test, removed with it.
class ExportFolder {
  public:
    ExportFolder()
        : m_path(std::filesystem::temp_directory_path() / quorvane::test::uniqueName("export")) {
        std::filesystem::create_directories(m_path);
    }
    ~ExportFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ExportFolder(const ExportFolder&) = delete;
    ExportFolder& operator=(const ExportFolder&) = delete;

    std::string file(const std::string& name) const { return (m_path / name).string(); }
    // The names in the folder.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(m_path))
            found.push_back(entry.path().filename().string());
        return found;
    }

  private:
    std::filesystem::path m_path;
};

// Exports `model` to `path` in one go and returns what the file holds ("" when it failed, with a
// GoogleTest failure).
inline std::string exportAll(const CLogListModel& model, const LineTimes* times,
                             LineExport::Dating dating, LineExport::Format format,
                             const std::string& path) {
    LineExport exporter(model, times, dating, format, QString::fromStdString(path));
    const SaveResult result = exporter.run();
    EXPECT_TRUE(result) << result.reason().toStdString();
    return result ? viewertest::readFile(path) : std::string();
}

// jq's output of `program` over `input` (with `-s` slurping JSON Lines), without the last newline.
inline std::string jq(const std::string& program, const std::string& input, bool slurp = false,
                      const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> command{QUORVANE_JQ, "-c"};
    if (slurp) command.emplace_back("-s");
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back(program);
    const quorvane::test::Subprocess::Result result = quorvane::test::run(command, input);
    EXPECT_EQ(result.status, 0) << program << "\n" << result.err;
    std::string out = result.out;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// A JSON object of numbers by line: {"1":12.5,...}.
inline std::string numbersByLine(const std::map<std::uint32_t, double>& values) {
    std::string json = "{";
    for (const auto& [line, value] : values) {
        if (json.size() > 1) json += ',';
        json += "\"" + std::to_string(line) + "\":" + std::to_string(value);
    }
    return json + "}";
}

// Whether `program` gives pairs [line, number] over `input` for exactly the lines of `want`,
// each number within `tolerance` of the one wanted. Trace Event times are microseconds with
// three decimals, more than jq's doubles hold at today's dates, hence the tolerance.
inline std::string pairsNear(const std::string& program, const std::string& input,
                             const std::map<std::uint32_t, double>& want, double tolerance,
                             bool slurp = false) {
    const std::string check =
        "(" + program +
        ") as $pairs | [$pairs[] | select(((.[1] - $want[.[0] | tostring]) | if . < 0 then -. "
        "else . end) >= " +
        std::to_string(tolerance) + " or $want[.[0] | tostring] == null)] as $far | " +
        "if ($pairs | length) == ($want | length) and ($far | length) == 0 then \"near\" else "
        "{pairs: $pairs, far: $far} end";
    return jq(check, input, slurp, {"--argjson", "want", numbersByLine(want)});
}

// Every B has its E on the same thread in time order, and no scope is left open or closed twice.
inline constexpr const char* kNestedPerThread =
    "reduce (.traceEvents[] | select(.ph == \"B\" or .ph == \"E\")) as $e ({ok: true, open: {}, "
    "last: {}}; (($e.pid | tostring) + \"/\" + ($e.tid | tostring)) as $t | .ok = (.ok and "
    "($e.ts >= (.last[$t] // 0))) | .last[$t] = $e.ts | if $e.ph == \"B\" then .open[$t] += "
    "[$e.name] else .ok = (.ok and ((.open[$t] // []) | length > 0 and .[-1] == $e.name)) | "
    ".open[$t] |= .[:-1] end) | .ok and all(.open[]; length == 0)";

// [entry line, E.ts - B.ts] of every scope that closed (not those closed by the export's end).
inline constexpr const char* kScopeDurations =
    "reduce (.traceEvents[] | select(.ph == \"B\" or .ph == \"E\")) as $e ({open: {}, pairs: "
    "[]}; (($e.pid | tostring) + \"/\" + ($e.tid | tostring)) as $t | if $e.ph == \"B\" then "
    ".open[$t] += [$e] else .open[$t][-1] as $b | .open[$t] |= .[:-1] | if $e.args.unfinished "
    "then . else .pairs += [[$b.args.line, $e.ts - $b.ts]] end end) | .pairs";

}  // namespace exporttest
