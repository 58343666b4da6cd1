#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Each sender's scopes, worked out from the list's lines as they arrive, and which of them are
// folded. A scope is an entry line and the later lines of its sender inside it, its leave line
// included; lines of other senders never belong to it. A folded scope hides its lines but its
// entry, lines that arrive inside it included. No window is needed.
//
// Lines are told in the order they arrived, each with its place in the list: the side it went on
// and its position there, oldest first. Answers are by place, so they hold whichever order the
// list shows. A line costs 4 bytes here (its sender), a scope 40, and a fold changes only the
// folded scope's sender: whether a line is hidden is one binary search among the outermost
// folded scopes of its sender.
class ScopeTree {
  public:
    // How scopes are recognised in the lines ("NUMBER\tSENDER\tTIME\tPROGRAM\t" then the
    // sender's depth in tabs, then "name(text)").
    enum class Rule {
        // The live window's lines: a line followed, among its sender's lines, by a deeper one
        // opens a scope. The first later line back at its depth is its leave line; a line above
        // its depth ends it without one (the leave was lost).
        Indentation,
        // A saved log's lines, whose indentation Save collapsed: a line "name()" leaves the
        // nearest earlier line of its sender with the same name still open, and the lines between
        // are inside; a line that nothing leaves is no scope.
        Names,
    };
    using Id = std::uint32_t;
    static constexpr Id kNone = UINT32_MAX;

    struct Place {
        bool onTop = false;
        std::size_t position = 0;
    };

    explicit ScopeTree(Rule rule = Rule::Indentation) : m_rule(rule) {}

    Rule rule() const { return m_rule; }
    // Forgets every line, scope and fold; the next line is the first again.
    void clear();
    // The next line in the order of arrival, put at `place`. Returns true when a folded scope
    // hides it.
    bool add(std::string_view line, Place place);
    std::size_t lineCount() const { return m_senderOf.size(); }
    // Lines told so far that went on `onTop`'s side.
    std::size_t lineCount(bool onTop) const;

    bool isHidden(Place place) const;
    // The scope whose entry is the line at `place`, or kNone.
    Id scopeAt(Place place) const;
    // The innermost scope that holds the line at `place` (its entry aside), or kNone.
    Id enclosing(Place place) const;

    std::size_t scopeCount() const { return m_scopes.size(); }
    Place entryOf(Id scope) const;
    // The first line inside `scope`, after its entry.
    Place firstInside(Id scope) const;
    // Lines of its sender inside it, its leave line included; still growing while it is open.
    std::size_t held(Id scope) const;
    // Still open: every later line of its sender belongs to it until one leaves or ends it.
    bool isOpen(Id scope) const { return m_scopes[scope].open; }
    bool isFolded(Id scope) const { return m_scopes[scope].folded; }
    Id parent(Id scope) const { return m_scopes[scope].parent; }
    // How deep its entry lies: the entry's indentation, or the scopes around it (Names).
    int depth(Id scope) const;
    // The deepest scope's depth; -1 with none.
    int deepest() const;
    // Where the lines that arrived after `scope`'s entry start on one side: the position of the
    // first of them there, or the side's line count when none went there.
    std::size_t firstPositionAfter(Id scope, bool onTop) const;

    // Both return false when there was nothing to change.
    bool fold(Id scope);
    bool unfold(Id scope);
    // Folds every scope at `depth` or deeper, those that open later included, until unfoldAll().
    void foldBelow(int depth);
    void unfoldAll();
    bool anyFolded() const { return m_foldedCount > 0; }
    // The depth foldBelow() keeps folding at; -1 while none.
    int foldLevel() const { return m_level; }

  private:
    static constexpr std::uint32_t kNoSender = UINT32_MAX;
    static constexpr std::uint32_t kStillOpen = UINT32_MAX;

    struct Scope {
        std::uint32_t entry = 0;  // arrival numbers, from 0
        std::uint32_t inner = 0;  // the first line inside
        std::uint32_t last = 0;   // the last line inside, once closed
        std::uint32_t sender = 0;
        Id parent = kNone;
        std::uint32_t entryOrdinal = 0;  // the entry's number among its sender's lines
        std::uint32_t held = 0;          // once closed
        std::int32_t indent = 0;
        bool open = false;
        bool folded = false;
    };
    // The lines an outermost folded scope hides: arrivals after `entry` up to `last`.
    struct Span {
        std::uint32_t entry;
        std::uint32_t last;
    };
    // A line that a later "name()" may leave (Names).
    struct Candidate {
        std::uint32_t arrival;
        std::uint32_t next;  // the sender's next line
        std::uint32_t ordinal;
        std::uint32_t name;
    };
    struct Sender {
        std::uint32_t lines = 0;
        std::uint32_t lastArrival = 0;
        std::int32_t lastIndent = 0;
        std::vector<Id> open;     // outermost first
        std::vector<Id> scopes;   // by entry
        std::vector<Span> spans;  // by entry, disjoint
        std::vector<Candidate> candidates;
        std::unordered_map<std::uint32_t, std::uint32_t> candidateNames;  // name -> how many
        std::vector<Id> roots;  // closed scopes with no scope around them yet (Names)
    };
    // Positions place..place + count - 1 of one side hold arrivals arrival..arrival + count - 1.
    struct Run {
        std::uint32_t position;
        std::uint32_t arrival;
        std::uint32_t count;
    };
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>()(text);
        }
    };

    std::uint32_t senderId(std::string_view key);
    std::uint32_t newSender();
    void addByIndentation(Sender& sender, std::uint32_t senderIndex, std::uint32_t arrival,
                          std::int32_t indent);
    void addByName(Sender& sender, std::uint32_t senderIndex, std::uint32_t arrival,
                   std::uint32_t name, bool leaves);
    Id newScope(const Scope& scope);
    void close(Sender& sender, Scope& scope, std::uint32_t last, std::uint32_t lastOrdinal);
    void applyLevel(Id scope);
    // Makes `scope`'s lines hidden in its sender's spans.
    void addSpan(Sender& sender, const Scope& scope);
    void rebuildSpans(Sender& sender);
    static bool holds(const Scope& scope, std::uint32_t arrival);
    static bool hides(const Sender& sender, std::uint32_t arrival);
    std::uint32_t spanEnd(const Scope& scope) const { return scope.open ? kStillOpen : scope.last; }

    // The arrival number of the line at `place`; false when it was not told.
    bool arrivalOf(Place place, std::uint32_t& arrival) const;
    Place placeOf(std::uint32_t arrival) const;

    Rule m_rule;
    std::deque<std::uint32_t> m_senderOf;  // by arrival
    std::deque<Scope> m_scopes;
    std::vector<Sender> m_senders;
    // Senders by their key: a number, as the live window writes them, or any other text.
    std::unordered_map<std::uint64_t, std::uint32_t> m_senderNumbers;
    std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> m_senderTexts;
    std::uint64_t m_lastSenderNumber = 0;
    std::uint32_t m_lastSender = kNoSender;
    std::array<std::vector<Run>, 2> m_runs;  // bottom, top
    std::size_t m_foldedCount = 0;
    int m_level = -1;
    int m_deepest = -1;
};
