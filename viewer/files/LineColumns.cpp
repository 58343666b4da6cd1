#include "viewer/files/LineColumns.h"

#include <limits>

namespace {

constexpr char kTab = '\t';
constexpr std::size_t kLeadingColumns = 4;  // number, sender, time, origin
constexpr std::size_t kMaxDigits = 10;
constexpr std::int32_t kSecondsPerHour = 3600;
constexpr std::int32_t kSecondsPerMinute = 60;
constexpr std::int32_t kHalfDay = 12 * kSecondsPerHour;
constexpr std::string_view kTimeShape = "00:00:00";
// How far a line's time may lie after its file was written: the clocks of traced machines differ.
constexpr std::int64_t kClockAhead = kSecondsPerHour;

bool readNumber(std::string_view field, std::uint32_t& value) {
    if (field.empty() || field.size() > kMaxDigits) return false;
    std::uint64_t number = 0;
    for (const char digit : field) {
        if (digit < '0' || digit > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    if (number > std::numeric_limits<std::uint32_t>::max()) return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

// "HH:MM:SS" as seconds since midnight, or -1. A leap second (":60") is kept as it reads.
std::int32_t readTimeOfDay(std::string_view field) {
    if (field.size() != kTimeShape.size()) return -1;
    std::int32_t parts[3] = {};
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (kTimeShape[i] == ':') {
            if (field[i] != ':') return -1;
            continue;
        }
        if (field[i] < '0' || field[i] > '9') return -1;
        std::int32_t& part = parts[i / 3];
        part = part * 10 + (field[i] - '0');
    }
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return -1;
    return parts[0] * kSecondsPerHour + parts[1] * kSecondsPerMinute + parts[2];
}

// Where the name ends: at the first '(', except that a "()" before the line's end belongs to the
// name ("operator()(x)", "operator()()"), as no text starts with ')' in practice.
std::size_t nameEnd(std::string_view rest) {
    const std::size_t first = rest.find('(');
    for (std::size_t at = first; at != std::string_view::npos; at = rest.find('(', at + 1)) {
        const bool emptyPair = at + 1 < rest.size() && rest[at + 1] == ')';
        if (!emptyPair || at + 2 == rest.size()) return at;
    }
    return first;
}

}  // namespace

LineColumns splitLineHead(std::string_view line) {
    LineColumns columns;
    std::string_view fields[kLeadingColumns];
    std::size_t start = 0;
    for (std::string_view& field : fields) {
        const std::size_t tab = line.find(kTab, start);
        if (tab == std::string_view::npos) return columns;
        field = line.substr(start, tab - start);
        start = tab + 1;
    }
    if (!readNumber(fields[0], columns.number) || !readNumber(fields[1], columns.senderKey))
        return LineColumns{};
    columns.hasColumns = true;
    columns.secondOfDay = readTimeOfDay(fields[2]);
    columns.origin = fields[3];
    std::size_t depth = start;
    while (depth < line.size() && line[depth] == kTab) ++depth;
    columns.depth = static_cast<std::int32_t>(depth - start);
    // The rest of the line, for splitLine to take apart.
    columns.name = line.substr(depth);
    return columns;
}

LineColumns splitLine(std::string_view line) {
    LineColumns columns = splitLineHead(line);
    if (!columns.hasColumns) return columns;
    const std::string_view rest = columns.name;
    const std::size_t end = nameEnd(rest);
    if (end == std::string_view::npos) return columns;
    columns.name = rest.substr(0, end);
    columns.text = rest.substr(end + 1);
    if (!columns.text.empty() && columns.text.back() == ')') columns.text.remove_suffix(1);
    return columns;
}

int DayCount::follow(std::int32_t secondOfDay) {
    if (secondOfDay < 0) return m_day;
    if (m_last >= 0) {
        if (secondOfDay < m_last - kHalfDay) {
            ++m_day;
        } else if (secondOfDay > m_last + kHalfDay) {
            --m_day;
        }
    }
    m_last = secondOfDay;
    return m_day;
}

LineDates::LineDates(std::int64_t seconds) : m_time(seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    if (localtime_r(&time, &m_firstDate) == nullptr) m_firstDate = std::tm{};
    m_firstDate.tm_hour = 0;
    m_firstDate.tm_min = 0;
    m_firstDate.tm_sec = 0;
}

LineDates LineDates::startingOn(std::int64_t seconds) {
    return LineDates(seconds);
}

LineDates LineDates::endingNear(std::int64_t seconds, int days, std::int32_t lastSecondOfDay) {
    LineDates dates(seconds);
    int lastDay = 0;
    if (lastSecondOfDay >= 0) {
        // The latest of the day after, the day of and the day before `seconds` that does not put
        // the line after it, give or take a clock running ahead.
        for (lastDay = 1; lastDay > -1; --lastDay)
            if (dates.secondsAt(lastDay, lastSecondOfDay) <= seconds + kClockAhead) break;
    }
    dates.m_firstDate.tm_mday += lastDay - days;
    return dates;
}

std::int64_t LineDates::next(std::int32_t secondOfDay) {
    const int day = m_days.follow(secondOfDay);
    if (secondOfDay < 0) return m_time;
    // Times of day change far less often than lines: convert each one once.
    if (day != m_cachedDay || secondOfDay != m_cachedSecond) {
        m_time = secondsAt(day, secondOfDay);
        m_cachedDay = day;
        m_cachedSecond = secondOfDay;
    }
    return m_time;
}

std::int64_t LineDates::secondsAt(int day, std::int32_t secondOfDay) const {
    std::tm local = m_firstDate;
    local.tm_mday += day;
    local.tm_hour = secondOfDay / kSecondsPerHour;
    local.tm_min = secondOfDay % kSecondsPerHour / kSecondsPerMinute;
    local.tm_sec = secondOfDay % kSecondsPerMinute;
    local.tm_isdst = -1;  // whichever is in force on that day
    return static_cast<std::int64_t>(std::mktime(&local));
}
