#include "viewer/lines/ScopeTree.h"

#include <algorithm>

namespace {

// What a line says of its scope: its sender, its depth and its entry's name.
struct LineParts {
    bool valid = false;
    std::string_view sender;
    std::int32_t indent = 0;
    std::string_view name;
    bool leaves = false;  // "name()": the text is empty, as on a leave line
};

constexpr std::size_t kFieldsBeforeEntry = 4;

// The fields before the entry are short: one pass over their bytes costs less than a search per
// field, and this runs for every line the live window takes in.
LineParts partsOf(std::string_view line, bool withName) {
    LineParts parts;
    std::size_t tabs[kFieldsBeforeEntry];
    std::size_t found = 0;
    std::size_t at = 0;
    for (; at < line.size() && found < kFieldsBeforeEntry; ++at) {
        if (line[at] == '\t') tabs[found++] = at;
    }
    if (found < kFieldsBeforeEntry) return parts;
    parts.valid = true;
    parts.sender = line.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1);
    std::size_t nameStart = at;
    while (nameStart < line.size() && line[nameStart] == '\t') ++nameStart;
    parts.indent = static_cast<std::int32_t>(nameStart - at);
    if (withName) {
        const std::string_view entry = line.substr(nameStart);
        parts.name = entry.substr(0, entry.find('('));
        parts.leaves = entry.size() > 2 && entry.ends_with("()");
    }
    return parts;
}

std::uint32_t hashOf(std::string_view name) {
    const std::size_t hash = std::hash<std::string_view>()(name);
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

void ScopeTree::clear() {
    m_senderOf.clear();
    m_scopes.clear();
    m_senders.clear();
    m_senderNumbers.clear();
    m_senderTexts.clear();
    m_lastSender = kNoSender;
    for (std::vector<Run>& runs : m_runs) runs.clear();
    m_foldedCount = 0;
    m_level = -1;
    m_deepest = -1;
}

bool ScopeTree::add(std::string_view line, Place place) {
    const auto arrival = static_cast<std::uint32_t>(m_senderOf.size());
    const auto position = static_cast<std::uint32_t>(place.position);
    std::vector<Run>& runs = m_runs[place.onTop ? 1 : 0];
    if (!runs.empty() && runs.back().position + runs.back().count == position &&
        runs.back().arrival + runs.back().count == arrival) {
        ++runs.back().count;
    } else {
        runs.push_back({position, arrival, 1});
    }
    const LineParts parts = partsOf(line, m_rule == Rule::Names);
    if (!parts.valid) {
        m_senderOf.push_back(kNoSender);
        return false;
    }
    const std::uint32_t index = senderId(parts.sender);
    m_senderOf.push_back(index);
    Sender& sender = m_senders[index];
    if (m_rule == Rule::Indentation) {
        addByIndentation(sender, index, arrival, parts.indent);
    } else {
        addByName(sender, index, arrival, hashOf(parts.name), parts.leaves);
    }
    return hides(sender, arrival);
}

std::uint32_t ScopeTree::senderId(std::string_view key) {
    constexpr std::size_t kMaxDigits = 19;  // below 2^63
    std::uint64_t number = 0;
    bool numeric = !key.empty() && key.size() <= kMaxDigits;
    for (std::size_t i = 0; numeric && i < key.size(); ++i) {
        numeric = key[i] >= '0' && key[i] <= '9';
        number = number * 10 + static_cast<std::uint64_t>(key[i] - '0');
    }
    if (!numeric) {
        const auto found = m_senderTexts.find(key);
        if (found != m_senderTexts.end()) return found->second;
        return m_senderTexts.emplace(std::string(key), newSender()).first->second;
    }
    // Lines come in runs of one sender: the last one is looked at first.
    if (m_lastSender != kNoSender && number == m_lastSenderNumber) return m_lastSender;
    auto found = m_senderNumbers.find(number);
    if (found == m_senderNumbers.end()) found = m_senderNumbers.emplace(number, newSender()).first;
    m_lastSenderNumber = number;
    m_lastSender = found->second;
    return m_lastSender;
}

std::uint32_t ScopeTree::newSender() {
    m_senders.emplace_back();
    return static_cast<std::uint32_t>(m_senders.size() - 1);
}

void ScopeTree::addByIndentation(Sender& sender, std::uint32_t senderIndex, std::uint32_t arrival,
                                 std::int32_t indent) {
    const std::uint32_t ordinal = sender.lines;
    if (ordinal > 0 && indent > sender.lastIndent) {
        Scope scope;
        scope.entry = sender.lastArrival;
        scope.inner = arrival;
        scope.sender = senderIndex;
        scope.parent = sender.open.empty() ? kNone : sender.open.back();
        scope.entryOrdinal = ordinal - 1;
        scope.indent = sender.lastIndent;
        scope.open = true;
        const Id id = newScope(scope);
        sender.open.push_back(id);
        sender.scopes.push_back(id);
        m_deepest = std::max(m_deepest, static_cast<int>(scope.indent));
        applyLevel(id);
    } else if (ordinal > 0) {
        // Open scopes lie ever deeper: those at this line's depth or below it end here.
        while (!sender.open.empty() && m_scopes[sender.open.back()].indent >= indent) {
            Scope& scope = m_scopes[sender.open.back()];
            const bool leaves = scope.indent == indent;
            close(sender, scope, leaves ? arrival : sender.lastArrival,
                  leaves ? ordinal : ordinal - 1);
            sender.open.pop_back();
        }
    }
    sender.lastArrival = arrival;
    sender.lastIndent = indent;
    ++sender.lines;
}

void ScopeTree::addByName(Sender& sender, std::uint32_t senderIndex, std::uint32_t arrival,
                          std::uint32_t name, bool leaves) {
    const std::uint32_t ordinal = sender.lines++;
    if (ordinal > 0 && !sender.candidates.empty() &&
        sender.candidates.back().arrival == sender.lastArrival) {
        sender.candidates.back().next = arrival;
    }
    sender.lastArrival = arrival;
    if (!leaves || !sender.candidateNames.contains(name)) {
        sender.candidates.push_back({arrival, arrival, ordinal, name});
        ++sender.candidateNames[name];
        return;
    }
    std::size_t at = sender.candidates.size();
    while (sender.candidates[--at].name != name) {
    }
    const Candidate entry = sender.candidates[at];
    // The lines after the entry that nothing left are plain lines inside its scope.
    for (std::size_t i = at; i < sender.candidates.size(); ++i) {
        const auto count = sender.candidateNames.find(sender.candidates[i].name);
        if (--count->second == 0) sender.candidateNames.erase(count);
    }
    sender.candidates.resize(at);
    if (ordinal == entry.ordinal + 1) return;  // nothing inside: no scope to fold
    Scope scope;
    scope.entry = entry.arrival;
    scope.inner = entry.next;
    scope.last = arrival;
    scope.sender = senderIndex;
    scope.entryOrdinal = entry.ordinal;
    scope.held = ordinal - entry.ordinal;
    const Id id = newScope(scope);
    // Scopes closed earlier that began after this entry lie inside it.
    while (!sender.roots.empty() && m_scopes[sender.roots.back()].entry > scope.entry) {
        m_scopes[sender.roots.back()].parent = id;
        sender.roots.pop_back();
    }
    sender.roots.push_back(id);
    const auto before =
        std::partition_point(sender.scopes.begin(), sender.scopes.end(),
                             [&](Id other) { return m_scopes[other].entry < scope.entry; });
    sender.scopes.insert(before, id);
    applyLevel(id);
}

ScopeTree::Id ScopeTree::newScope(const Scope& scope) {
    m_scopes.push_back(scope);
    return static_cast<Id>(m_scopes.size() - 1);
}

void ScopeTree::close(Sender& sender, Scope& scope, std::uint32_t last, std::uint32_t lastOrdinal) {
    scope.open = false;
    scope.last = last;
    scope.held = lastOrdinal - scope.entryOrdinal;
    // An open scope that hides lines is its sender's last span.
    if (scope.folded && !sender.spans.empty() && sender.spans.back().entry == scope.entry) {
        sender.spans.back().last = last;
    }
}

void ScopeTree::applyLevel(Id scope) {
    if (m_level >= 0 && depth(scope) >= m_level) fold(scope);
}

std::size_t ScopeTree::lineCount(bool onTop) const {
    const std::vector<Run>& runs = m_runs[onTop ? 1 : 0];
    return runs.empty() ? 0 : runs.back().position + runs.back().count;
}

bool ScopeTree::hides(const Sender& sender, std::uint32_t arrival) {
    const auto after = std::partition_point(sender.spans.begin(), sender.spans.end(),
                                            [&](const Span& span) { return span.entry < arrival; });
    return after != sender.spans.begin() && arrival <= std::prev(after)->last;
}

bool ScopeTree::isHidden(Place place) const {
    std::uint32_t arrival = 0;
    if (!arrivalOf(place, arrival)) return false;
    const std::uint32_t sender = m_senderOf[arrival];
    return sender != kNoSender && hides(m_senders[sender], arrival);
}

ScopeTree::Id ScopeTree::scopeAt(Place place) const {
    std::uint32_t arrival = 0;
    if (!arrivalOf(place, arrival) || m_senderOf[arrival] == kNoSender) return kNone;
    const std::vector<Id>& scopes = m_senders[m_senderOf[arrival]].scopes;
    const auto found = std::partition_point(
        scopes.begin(), scopes.end(), [&](Id scope) { return m_scopes[scope].entry < arrival; });
    return found != scopes.end() && m_scopes[*found].entry == arrival ? *found : kNone;
}

ScopeTree::Id ScopeTree::enclosing(Place place) const {
    std::uint32_t arrival = 0;
    if (!arrivalOf(place, arrival) || m_senderOf[arrival] == kNoSender) return kNone;
    const std::vector<Id>& scopes = m_senders[m_senderOf[arrival]].scopes;
    const auto after = std::partition_point(
        scopes.begin(), scopes.end(), [&](Id scope) { return m_scopes[scope].entry < arrival; });
    // Scopes nest: the innermost one holding the line is the last to begin before it, or one
    // around that.
    Id scope = after == scopes.begin() ? kNone : *std::prev(after);
    while (scope != kNone && !holds(m_scopes[scope], arrival)) scope = m_scopes[scope].parent;
    return scope;
}

bool ScopeTree::holds(const Scope& scope, std::uint32_t arrival) {
    return scope.entry < arrival && (scope.open || arrival <= scope.last);
}

ScopeTree::Place ScopeTree::entryOf(Id scope) const {
    return placeOf(m_scopes[scope].entry);
}

ScopeTree::Place ScopeTree::firstInside(Id scope) const {
    return placeOf(m_scopes[scope].inner);
}

std::size_t ScopeTree::held(Id scope) const {
    const Scope& s = m_scopes[scope];
    return s.open ? m_senders[s.sender].lines - 1 - s.entryOrdinal : s.held;
}

int ScopeTree::depth(Id scope) const {
    if (m_rule == Rule::Indentation) return m_scopes[scope].indent;
    int depth = 0;
    for (Id around = m_scopes[scope].parent; around != kNone; around = m_scopes[around].parent) {
        ++depth;
    }
    return depth;
}

int ScopeTree::deepest() const {
    if (m_rule == Rule::Indentation) return m_deepest;
    int deepest = -1;
    for (Id scope = 0; scope < m_scopes.size(); ++scope) deepest = std::max(deepest, depth(scope));
    return deepest;
}

std::size_t ScopeTree::firstPositionAfter(Id scope, bool onTop) const {
    const std::uint32_t entry = m_scopes[scope].entry;
    const std::vector<Run>& runs = m_runs[onTop ? 1 : 0];
    const auto run = std::partition_point(
        runs.begin(), runs.end(), [&](const Run& r) { return r.arrival + r.count <= entry + 1; });
    if (run == runs.end()) return lineCount(onTop);
    return run->arrival > entry ? run->position : run->position + (entry + 1 - run->arrival);
}

bool ScopeTree::fold(Id scope) {
    Scope& s = m_scopes[scope];
    if (s.folded) return false;
    s.folded = true;
    ++m_foldedCount;
    addSpan(m_senders[s.sender], s);
    return true;
}

bool ScopeTree::unfold(Id scope) {
    Scope& s = m_scopes[scope];
    if (!s.folded) return false;
    s.folded = false;
    --m_foldedCount;
    Sender& sender = m_senders[s.sender];
    std::vector<Span>& spans = sender.spans;
    auto at = std::partition_point(spans.begin(), spans.end(),
                                   [&](const Span& span) { return span.entry < s.entry; });
    if (at == spans.end() || at->entry != s.entry)
        return true;  // a folded scope around it hides it
    at = spans.erase(at);
    // The folded scopes inside it now hide their own lines.
    const std::uint32_t end = spanEnd(s);
    auto inner = std::partition_point(sender.scopes.begin(), sender.scopes.end(),
                                      [&](Id other) { return m_scopes[other].entry <= s.entry; });
    bool covered = false;
    std::uint32_t coveredTo = 0;
    for (; inner != sender.scopes.end() && m_scopes[*inner].entry <= end; ++inner) {
        const Scope& candidate = m_scopes[*inner];
        if (!candidate.folded || (covered && candidate.entry <= coveredTo)) continue;
        at = std::next(spans.insert(at, {candidate.entry, spanEnd(candidate)}));
        covered = true;
        coveredTo = spanEnd(candidate);
    }
    return true;
}

void ScopeTree::addSpan(Sender& sender, const Scope& scope) {
    std::vector<Span>& spans = sender.spans;
    auto at = std::partition_point(spans.begin(), spans.end(),
                                   [&](const Span& span) { return span.entry < scope.entry; });
    if (at != spans.begin() && scope.entry <= std::prev(at)->last) return;  // hidden already
    const std::uint32_t end = spanEnd(scope);
    auto past = at;
    while (past != spans.end() && past->entry <= end) ++past;
    at = spans.erase(at, past);
    spans.insert(at, {scope.entry, end});
}

void ScopeTree::rebuildSpans(Sender& sender) {
    sender.spans.clear();
    for (const Id id : sender.scopes) {
        const Scope& scope = m_scopes[id];
        if (scope.folded && (sender.spans.empty() || scope.entry > sender.spans.back().last)) {
            sender.spans.push_back({scope.entry, spanEnd(scope)});
        }
    }
}

void ScopeTree::foldBelow(int depth) {
    m_level = std::max(0, depth);
    m_foldedCount = 0;
    for (Id id = 0; id < m_scopes.size(); ++id) {
        m_scopes[id].folded = this->depth(id) >= m_level;
        m_foldedCount += m_scopes[id].folded ? 1 : 0;
    }
    for (Sender& sender : m_senders) rebuildSpans(sender);
}

void ScopeTree::unfoldAll() {
    m_level = -1;
    m_foldedCount = 0;
    for (Scope& scope : m_scopes) scope.folded = false;
    for (Sender& sender : m_senders) sender.spans.clear();
}

bool ScopeTree::arrivalOf(Place place, std::uint32_t& arrival) const {
    const std::vector<Run>& runs = m_runs[place.onTop ? 1 : 0];
    const auto after = std::partition_point(
        runs.begin(), runs.end(), [&](const Run& run) { return run.position <= place.position; });
    if (after == runs.begin()) return false;
    const Run& run = *std::prev(after);
    if (place.position >= std::size_t{run.position} + run.count) return false;
    arrival = run.arrival + static_cast<std::uint32_t>(place.position - run.position);
    return true;
}

ScopeTree::Place ScopeTree::placeOf(std::uint32_t arrival) const {
    for (const bool onTop : {false, true}) {
        const std::vector<Run>& runs = m_runs[onTop ? 1 : 0];
        const auto after = std::partition_point(
            runs.begin(), runs.end(), [&](const Run& run) { return run.arrival <= arrival; });
        if (after != runs.begin() &&
            arrival < std::prev(after)->arrival + std::prev(after)->count) {
            return {onTop,
                    std::prev(after)->position + std::size_t{arrival - std::prev(after)->arrival}};
        }
    }
    return {};
}
