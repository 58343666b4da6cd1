#pragma once
// Which records quorvane-tail prints, chosen as the viewer's filter chooses lines: by a pattern
// in the entry, by sender key, by origin. Each kind of rule given must match (any one of its
// values); with --invert the records that would not pass are printed instead.
#include <regex.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quorvane/TraceRecord.h"

using quorvane::TraceRecord;

class TailFilter {
  public:
    // PATTERN is a POSIX extended regular expression, looked for in the entry as the line shows
    // it: name(text). False, with the reason in `error`, for one that does not compile.
    bool addGrep(const char* pattern, std::string& error);
    // False for anything but a decimal sender key.
    bool addSender(const char* argument);
    void addOrigin(const char* name) { m_origins.emplace_back(name); }
    void setInvert(bool invert) { m_invert = invert; }

    bool passes(const TraceRecord& record);

  private:
    // A compiled pattern, freed with its owner; one that failed to compile holds nothing.
    struct Compiled {
        regex_t regex{};
        bool valid = false;
        Compiled() = default;
        Compiled(const Compiled&) = delete;
        Compiled& operator=(const Compiled&) = delete;
        ~Compiled() {
            if (valid) regfree(&regex);
        }
    };

    bool matches(const TraceRecord& record);

    std::vector<std::unique_ptr<Compiled>> m_patterns;
    std::vector<std::uint32_t> m_senders;
    std::vector<std::string> m_origins;
    bool m_invert = false;
    std::string m_entry;  // name(text), reused for every record
};
