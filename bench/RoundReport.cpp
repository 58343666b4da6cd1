#include "bench/RoundReport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
constexpr double kBytesPerKilobyte = 1024.0;
}  // namespace

std::string takeRoundReport(std::string_view tag, std::string_view line,
                            std::map<std::string, Samples>& figures) {
    if (line.empty()) return "the round printed nothing";
    std::istringstream fields{std::string(line)};
    std::string seenTag;
    std::string verdict;
    fields >> seenTag >> verdict;
    if (seenTag != tag) return "the round printed no report";
    if (verdict != "ok") {
        std::string reason;
        std::getline(fields, reason);
        const std::size_t start = reason.find_first_not_of(' ');
        reason = start == std::string::npos ? std::string() : reason.substr(start);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
            reason.pop_back();
        }
        return reason.empty() ? "the round is void" : reason;
    }
    // Parse everything before adding anything, so a malformed line adds no figure.
    std::map<std::string, double> parsed;
    std::string field;
    while (fields >> field) {
        const std::size_t equals = field.find('=');
        if (equals == std::string::npos || equals == 0) return "malformed figure " + field;
        const char* text = field.c_str() + equals + 1;
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        if (end == text || *end != '\0') return "malformed figure " + field;
        parsed[field.substr(0, equals)] = value;
    }
    for (const auto& [name, value] : parsed) figures[name].add(value);
    return "";
}

double statusFieldBytes(std::string_view statusText, std::string_view field) {
    std::istringstream status{std::string(statusText)};
    const std::string prefix = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::istringstream value(line.substr(prefix.size()));
        double kilobytes = 0;
        value >> kilobytes;
        return kilobytes * kBytesPerKilobyte;
    }
    return 0.0;
}

double ownStatusBytes(std::string_view field) {
    std::ifstream file("/proc/self/status");
    std::stringstream text;
    text << file.rdbuf();
    return statusFieldBytes(text.str(), field);
}
