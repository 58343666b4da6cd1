#pragma once
#include <cstdint>
#include <ctime>
#include <string_view>

// A line of the list taken apart into the columns LineFormatter writes:
//   number TAB sender TAB HH:MM:SS TAB origin TAB <one tab per depth>name(text)
// A line of any other shape (a saved log may hold anything) has no columns; a column that does
// not read as it should is left empty rather than guessed.
struct LineColumns {
    bool hasColumns = false;
    std::uint32_t number = 0;
    std::uint32_t senderKey = 0;
    std::int32_t secondOfDay = -1;  // -1: the time column holds no time of day
    std::string_view origin;
    std::int32_t depth = 0;  // the tabs before the name
    std::string_view name;
    std::string_view text;  // between the name's '(' and the line's last ')'
};

LineColumns splitLine(std::string_view line);
// The columns up to the depth only, for a pass that needs no more: `name` holds the rest of the
// line, `text` nothing.
LineColumns splitLineHead(std::string_view line);

// Follows the times of day of lines in order and counts the days they run over: a time of day
// more than 12 hours before the previous one is taken for the next day, one more than 12 hours
// after it for the previous day (lines of senders slightly out of step around midnight).
class DayCount {
  public:
    // The day of a line at `secondOfDay` (-1: none, the day stays), counted from the first.
    int follow(std::int32_t secondOfDay);
    int day() const { return m_day; }
    // The last time of day followed, or -1.
    std::int32_t lastSecondOfDay() const { return m_last; }

  private:
    int m_day = 0;
    std::int32_t m_last = -1;
};

// Turns the lines' times of day into seconds since 1970, in the local time zone, given the date of
// the first line.
class LineDates {
  public:
    // The first line falls on the local date of `seconds` (the first record's time).
    static LineDates startingOn(std::int64_t seconds);
    // The last line, `days` days after the first and at `lastSecondOfDay`, falls on the latest
    // date that does not put it after `seconds` (when its file was written; an hour is allowed
    // for a clock ahead): right for a file written within a day of its last line.
    static LineDates endingNear(std::int64_t seconds, int days, std::int32_t lastSecondOfDay);

    // The time of the next line, oldest first, at `secondOfDay`; a line without one takes the
    // previous line's time.
    std::int64_t next(std::int32_t secondOfDay);

  private:
    explicit LineDates(std::int64_t seconds);
    std::int64_t secondsAt(int day, std::int32_t secondOfDay) const;

    std::tm m_firstDate{};
    DayCount m_days;
    std::int64_t m_time;
    int m_cachedDay = 0;
    std::int32_t m_cachedSecond = -1;
};
