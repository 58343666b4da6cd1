#include "viewer/files/LineColumns.h"

#include <limits>

namespace {

constexpr char kTab = '\t';
constexpr std::size_t kMaxDigits = 10;
constexpr std::int32_t kSecondsPerHour = 3600;
constexpr std::int32_t kSecondsPerMinute = 60;
constexpr std::int32_t kHalfDay = 12 * kSecondsPerHour;
constexpr std::string_view kTimeShape = "00:00:00";
// How far a line's time may lie after its file was written: the clocks of traced machines differ.
constexpr std::int64_t kClockAhead = kSecondsPerHour;

// "HH:MM:SS" as seconds since midnight, or -1. A leap second (":60") is kept as it reads.
std::int32_t readTimeOfDay(std::string_view field) {
    if (field.size() != kTimeShape.size() || field[2] != ':' || field[5] != ':') return -1;
    const auto twoDigits = [&](std::size_t at) {
        const auto high = static_cast<unsigned>(field[at] - '0');
        const auto low = static_cast<unsigned>(field[at + 1] - '0');
        return high > 9 || low > 9 ? -1 : static_cast<std::int32_t>(high * 10 + low);
    };
    const std::int32_t hours = twoDigits(0);
    const std::int32_t minutes = twoDigits(3);
    const std::int32_t seconds = twoDigits(6);
    if (hours < 0 || minutes < 0 || seconds < 0 || hours > 23 || minutes > 59 || seconds > 60)
        return -1;
    return hours * kSecondsPerHour + minutes * kSecondsPerMinute + seconds;
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

// Reads the digits of a number column up to its tab, from `at`; leaves `at` past the tab.
bool readNumberColumn(std::string_view line, std::size_t& at, std::uint32_t& value) {
    std::uint64_t number = 0;
    const std::size_t start = at;
    for (; at < line.size() && line[at] != kTab; ++at) {
        const char c = line[at];
        if (at - start == kMaxDigits || c < '0' || c > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (at == start || at == line.size() || number > std::numeric_limits<std::uint32_t>::max())
        return false;
    value = static_cast<std::uint32_t>(number);
    ++at;
    return true;
}

// The columns up to the depth, into `columns`; false for a line of another shape. The number and
// sender columns are read as they are scanned, and a well-formed time column is taken by its
// width: only the origin column is searched for its end.
bool readLineHead(std::string_view line, LineColumns& columns) {
    std::size_t start = 0;
    if (!readNumberColumn(line, start, columns.number) ||
        !readNumberColumn(line, start, columns.senderKey))
        return false;
    const std::size_t timeEnd = start + kTimeShape.size();
    if (timeEnd < line.size() && line[timeEnd] == kTab &&
        (columns.secondOfDay = readTimeOfDay(line.substr(start, kTimeShape.size()))) >= 0) {
        start = timeEnd + 1;
    } else {
        const std::size_t tab = line.find(kTab, start);
        if (tab == std::string_view::npos) return false;
        columns.secondOfDay = readTimeOfDay(line.substr(start, tab - start));
        start = tab + 1;
    }
    const std::size_t originEnd = line.find(kTab, start);
    if (originEnd == std::string_view::npos) return false;
    columns.hasColumns = true;
    columns.origin = line.substr(start, originEnd - start);
    start = originEnd + 1;
    std::size_t depth = start;
    while (depth < line.size() && line[depth] == kTab) ++depth;
    columns.depth = static_cast<std::int32_t>(depth - start);
    // The rest of the line, for splitLine to take apart.
    columns.name = line.substr(depth);
    return true;
}

}  // namespace

LineColumns splitLineHead(std::string_view line) {
    // One named result, so that it is built where the caller wants it: copying it out of a
    // temporary would stall on the stores just made.
    LineColumns columns;
    if (!readLineHead(line, columns)) columns = LineColumns{};
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
