#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The figures of one benchmark quantity over the interleaved runs of one invocation.
class Samples {
  public:
    void add(double value) { m_values.push_back(value); }
    bool empty() const { return m_values.empty(); }
    std::size_t size() const { return m_values.size(); }
    // Median of the values (mean of the middle two for an even count); 0 when empty.
    double median() const;
    double min() const;
    double max() const;

  private:
    std::vector<double> m_values;
};

// Which way a figure improves, so a target can be judged. Within: a ratio must lie between the
// target and its inverse (0.8 means within 20 % either way).
enum class Better { Higher, Lower, Within };

// How a figure is written in the table.
enum class Unit { PerSecond, Bytes, BytesPerSecond, Milliseconds, Nanoseconds, Ratio };

// Number text: up to two decimals, trailing zeros dropped ("2.5", "1200000").
std::string plainNumber(double value);
// Table text of a value in its unit ("2.71 M/s", "1.43 GiB", "412 MB/s", "12.3 ms"): sizes in
// binary multiples, rates in decimal ones.
std::string unitText(double value, Unit unit);
// "median [min .. max]" of the samples in their unit.
std::string spreadText(const Samples& samples, Unit unit);

// The line a script reads for one target:
//   RESULT <name> ours=<n> peer=<n> ratio=<ours/peer> target=<n> <met|short>
// With a peer the target applies to the ratio, without one to `ours`.
std::string resultLine(std::string_view name, double ours, double target, Better better);
std::string resultLine(std::string_view name, double ours, double peer, double target,
                       Better better);

// Writes the machine line, the table rows and the RESULT lines of one benchmark program.
// RESULT lines are held back and written after the table by finish().
class BenchReport {
  public:
    explicit BenchReport(std::FILE* out = stdout) : m_out(out) {}
    // The report of the program run with `argc` and `argv`, on standard output: the machine line
    // first, unless the command line asks to leave it out (quietMachine).
    BenchReport(int argc, char** argv);

    // "machine: <nproc> cpus, <model>" from the running system.
    void machine();
    void section(std::string_view title);
    // A figure beside its peer, both measured in this run, with ours/peer of the medians.
    void comparison(std::string_view figure, const Samples& ours, std::string_view peerName,
                    const Samples& peer, Unit unit);
    // A figure with no peer.
    void single(std::string_view figure, const Samples& ours, Unit unit);
    // A line of text in the table (a note about a run, a voided run).
    void note(std::string_view text);
    void result(std::string line) { m_results.push_back(std::move(line)); }
    void finish();

  private:
    std::FILE* m_out;
    std::vector<std::string> m_results;
};

// Number of online processors and the CPU model name from /proc/cpuinfo.
unsigned processorCount();
std::string cpuModel();

// Whether the command line asks to leave out the machine line (the run script prints it once).
bool quietMachine(int argc, char** argv);

// The positive whole number in environment variable `name`, or `fallback` when it is unset,
// empty or not positive (how a run is shortened while working on a piece).
std::uint64_t environmentNumber(const char* name, std::uint64_t fallback);
// The rounds a benchmark runs: QUORVANE_BENCH_ROUNDS, or `fallback`.
int benchRounds(int fallback);
