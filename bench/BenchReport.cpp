#include "bench/BenchReport.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

constexpr double kKilo = 1e3;
constexpr double kKibi = 1024.0;
constexpr int kFigureColumn = 38;
constexpr int kSpreadColumn = 36;
constexpr int kPeerColumn = 44;

std::string printed(const char* format, double value, const char* suffix) {
    char text[64];
    std::snprintf(text, sizeof text, format, value, suffix);
    return text;
}

// Three significant digits with an SI prefix.
std::string scaled(double value, const char* unit, double step, const char* const prefixes[4]) {
    int index = 0;
    double magnitude = std::fabs(value);
    while (index < 3 && magnitude >= step) {
        value /= step;
        magnitude /= step;
        ++index;
    }
    const std::string suffix = std::string(prefixes[index]) + unit;
    if (magnitude >= 100.0 || index == 0) return printed("%.0f %s", value, suffix.c_str());
    if (magnitude >= 10.0) return printed("%.1f %s", value, suffix.c_str());
    return printed("%.2f %s", value, suffix.c_str());
}

bool meets(double value, double target, Better better) {
    switch (better) {
        case Better::Higher:
            return value >= target;
        case Better::Lower:
            return value <= target;
        case Better::Within:
            return target > 0.0 && value >= std::min(target, 1.0 / target) &&
                   value <= std::max(target, 1.0 / target);
    }
    return false;
}

}  // namespace

double Samples::median() const {
    if (m_values.empty()) return 0.0;
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    if (sorted.size() % 2 == 1) return sorted[middle];
    return (sorted[middle - 1] + sorted[middle]) / 2.0;
}

double Samples::min() const {
    return m_values.empty() ? 0.0 : *std::min_element(m_values.begin(), m_values.end());
}

double Samples::max() const {
    return m_values.empty() ? 0.0 : *std::max_element(m_values.begin(), m_values.end());
}

std::string plainNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, std::fabs(value) >= kKilo ? "%.0f" : "%.2f", value);
    std::string result = text;
    if (result.find('.') == std::string::npos) return result;
    while (result.back() == '0') result.pop_back();
    if (result.back() == '.') result.pop_back();
    if (result == "-0") result = "0";
    return result;
}

std::string unitText(double value, Unit unit) {
    static const char* const kDecimal[4] = {"", "k", "M", "G"};
    static const char* const kBinary[4] = {"", "Ki", "Mi", "Gi"};
    switch (unit) {
        case Unit::PerSecond:
            return scaled(value, "/s", kKilo, kDecimal);
        case Unit::Bytes:
            return scaled(value, "B", kKibi, kBinary);
        case Unit::BytesPerSecond:
            return scaled(value, "B/s", kKilo, kDecimal);
        case Unit::Milliseconds:
            return printed("%.1f %s", value, "ms");
        case Unit::Nanoseconds:
            return printed("%.0f %s", value, "ns");
        case Unit::Ratio:
            return printed("%.2f %s", value, "x");
    }
    return plainNumber(value);
}

std::string spreadText(const Samples& samples, Unit unit) {
    if (samples.empty()) return "void";
    if (samples.size() == 1) return unitText(samples.median(), unit);
    return unitText(samples.median(), unit) + " [" + unitText(samples.min(), unit) + " .. " +
           unitText(samples.max(), unit) + "]";
}

std::string resultLine(std::string_view name, double ours, double target, Better better) {
    const bool met = meets(ours, target, better);
    return "RESULT " + std::string(name) + " ours=" + plainNumber(ours) +
           " target=" + plainNumber(target) + (met ? " met" : " short");
}

std::string resultLine(std::string_view name, double ours, double peer, double target,
                       Better better) {
    const double ratio = peer != 0.0 ? ours / peer : 0.0;
    const bool met = peer != 0.0 && meets(ratio, target, better);
    return "RESULT " + std::string(name) + " ours=" + plainNumber(ours) +
           " peer=" + plainNumber(peer) + " ratio=" + plainNumber(ratio) +
           " target=" + plainNumber(target) + (met ? " met" : " short");
}

BenchReport::BenchReport(int argc, char** argv) : m_out(stdout) {
    if (!quietMachine(argc, argv)) machine();
}

void BenchReport::machine() {
    std::fprintf(m_out, "machine: %u cpus, %s\n", processorCount(), cpuModel().c_str());
}

void BenchReport::section(std::string_view title) {
    std::fprintf(m_out, "\n== %.*s\n", static_cast<int>(title.size()), title.data());
    std::fprintf(m_out, "%-*s %-*s %-*s %-*s %s\n", kFigureColumn, "figure", kSpreadColumn,
                 "ours: median [min .. max]", kPeerColumn, "peer", kSpreadColumn,
                 "peer: median [min .. max]", "ours/peer");
}

void BenchReport::comparison(std::string_view figure, const Samples& ours,
                             std::string_view peerName, const Samples& peer, Unit unit) {
    const std::string ratio = ours.empty() || peer.empty() || peer.median() == 0.0
                                  ? "-"
                                  : printed("%.2f%s", ours.median() / peer.median(), "");
    std::fprintf(m_out, "%-*.*s %-*s %-*.*s %-*s %s\n", kFigureColumn,
                 static_cast<int>(figure.size()), figure.data(), kSpreadColumn,
                 spreadText(ours, unit).c_str(), kPeerColumn, static_cast<int>(peerName.size()),
                 peerName.data(), kSpreadColumn, spreadText(peer, unit).c_str(), ratio.c_str());
}

void BenchReport::single(std::string_view figure, const Samples& ours, Unit unit) {
    std::fprintf(m_out, "%-*.*s %-*s %-*s %-*s %s\n", kFigureColumn,
                 static_cast<int>(figure.size()), figure.data(), kSpreadColumn,
                 spreadText(ours, unit).c_str(), kPeerColumn, "-", kSpreadColumn, "-", "-");
}

void BenchReport::note(std::string_view text) {
    std::fprintf(m_out, "  note: %.*s\n", static_cast<int>(text.size()), text.data());
}

void BenchReport::finish() {
    std::fputc('\n', m_out);
    for (const std::string& line : m_results) std::fprintf(m_out, "%s\n", line.c_str());
    m_results.clear();
    std::fflush(m_out);
}

unsigned processorCount() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1u;
}

std::string cpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) != 0) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return "unknown CPU";
}

std::uint64_t environmentNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    const unsigned long long value = std::strtoull(text, nullptr, 10);
    return value > 0 ? value : fallback;
}

int benchRounds(int fallback) {
    return static_cast<int>(environmentNumber("QUORVANE_BENCH_ROUNDS", fallback));
}

bool quietMachine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--no-machine") return true;
    }
    return false;
}
