#!/usr/bin/env bash
# Mutation check of the tests: each mutation below breaks one line (or one pair of lines) of the
# transport, the semaphore under it, the line formatter (records/), the viewer's find and filter,
# or the drain and shutdown of the viewer. For each, the file is changed with sed, the test
# binary that should notice is rebuilt and run with a filter, and the file is put back. The
# table at the end says which mutations the tests killed and which survived; every one should be
# killed. The sources are restored even when the run is interrupted.
#
#   scripts/mutate.sh            every mutation
#   scripts/mutate.sh PATTERN    those whose name matches PATTERN (grep -E)
#   scripts/mutate.sh --list     the names only
#
# It builds in build/ (configured with the default preset when missing) and takes some minutes;
# it is for a person, not for CI.
set -euo pipefail
cd "$(dirname "$0")/.."

names=() files=() scripts=() targets=() filters=()
mutation() {
    names+=("$1") files+=("$2") scripts+=("$3") targets+=("$4") filters+=("$5")
}

# Mailbox and semaphore.
mutation "an all-zero header is finished in a section too small" transport/CMclMailbox.cpp \
    's/if (m_isCreator && fits) {/if (m_isCreator) {/' transport_test 'MailboxConstruction.*'
mutation "the quick path does not repair an abandoned guard" transport/CMclMailbox.cpp \
    '/if (quickGuard == WAIT_ABANDONED) repairCounts();/d' transport_test 'MailboxRecovery.*'
mutation "a waiting take does not repair an abandoned guard" transport/CMclMailbox.cpp \
    '/if (guard == WAIT_ABANDONED) {/{n;s/repairCounts();/;/}' transport_test 'MailboxRecovery.*'
mutation "a repair takes a full ring for an empty one" transport/CMclMailbox.cpp \
    's/count() > m_freeCountSemaphore->count()/count() < m_freeCountSemaphore->count()/' \
    transport_test 'MailboxRecovery.*'
mutation "an opener waits past its time-out" transport/CMclMailbox.cpp \
    's/if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {/if (false) {/' \
    transport_test 'MailboxConstruction.*'
mutation "receiveMany takes a whole full ring" transport/CMclMailbox.cpp \
    's/std::max<DWORD>(1, m_slotCount - 1)/std::max<DWORD>(1, m_slotCount)/' \
    transport_test 'MailboxRing.*'
mutation "receive does not move the read index" transport/CMclMailbox.cpp \
    's/(readIndex + 1) % m_slotCount/readIndex % m_slotCount/' transport_test 'MailboxRing.*'
mutation "post skips a slot" transport/CMclMailbox.cpp \
    's/(writeIndex + 1) % m_slotCount/(writeIndex + 2) % m_slotCount/' transport_test 'MailboxRing.*'
mutation "a release does not honour the someone-sleeps bit" platform/posix/Semaphore.cpp \
    's/wakeOwed = (word & kWaitersBit) != 0;/wakeOwed = false;/' kernel_objects_test 'Semaphore.*'
mutation "a sleeper does not set the someone-sleeps bit" platform/posix/Semaphore.cpp \
    's/kWaitersBit = 0x80000000u;/kWaitersBit = 0;/' kernel_objects_test 'Semaphore.*'

# The line formatter and the depth table.
mutation "a closing record is indented like its body" records/LineFormatter.cpp \
    's/if (delta < 0) depth = addDepth/if (delta < -1) depth = addDepth/' records_test '*'
mutation "line numbers are not padded" records/LineFormatter.cpp \
    's/writeDecimal(out, lineNumber, kLineNumberDigits)/writeDecimal(out, lineNumber, 1)/' \
    records_test '*'
mutation "CR and LF swap their letters" records/LineFormatter.cpp \
    "s/? 'r' : 'n'/? 'n' : 'r'/" records_test '*'
mutation "a time text is kept for another timestamp" records/LineFormatter.cpp \
    's/if (m_hasCachedTime && timestamp == m_cachedTimestamp) return;/if (m_hasCachedTime) return;/' \
    records_test '*'
mutation "an erased sender's run is not shifted back" records/DepthTable.cpp \
    's/if (distanceFromHome >= distanceFromHole) {/if (distanceFromHome > distanceFromHole) {/' \
    records_test '*'

# Find and filter.
mutation "sender and program rules stop nothing" viewer/find/LineFilter.cpp \
    's/if (hit != rule.show) {/if (hit != rule.show \&\& rule.isSearch) {/' viewer_unit_test \
    'LineFilter*:ShownRows*'
mutation "the last field of a line is never found" viewer/find/LineFilter.cpp \
    's/return tabsToSkip == 0 ? line.substr(begin)/return false ? line.substr(begin)/' \
    viewer_unit_test 'LineFilter*:ShownRows*'
mutation "a caseless byte search keeps the case" viewer/find/LineSearch.cpp \
    's/m_matchCase ? 0 : kCaseBit/m_matchCase ? 0 : 0/' viewer_unit_test 'LineSearch*'
mutation "a caseless search never falls back to text" viewer/find/LineSearch.cpp \
    's/return !ascii && matches(textOf(line));/return !ascii \&\& false;/' viewer_unit_test \
    'LineSearch*'
mutation "next past the last match does not say it wrapped" viewer/find/RowIndex.cpp \
    's/            wrapped = true;/            wrapped = false;/' viewer_unit_test 'RowIndex*:ShownRows*'
mutation "a line tested as staged is taken as passing" viewer/find/RowIndex.cpp \
    's/passed = !side.notedFound.empty() && side.notedFound.front() == position;/passed = !side.notedFound.empty();/' \
    viewer_unit_test 'RowIndex*:ShownRows*'
mutation "a filter ignores lines arriving later" viewer/find/ShownRows.cpp \
    's/if (!isFiltering() || m_nextStep.isActive()) {/if (true) {/' viewer_unit_test 'ShownRows*'

# The drain, power and shutdown of the viewer.
mutation "a hold takes a whole run" viewer/live/RecordDrain.cpp \
    's/std::min<std::size_t>(room, kRecordsPerHold)/std::min<std::size_t>(room, room)/' \
    viewer_unit_test 'RecordDrain*'
mutation "lines are numbered from 2" viewer/live/RecordDrain.cpp \
    's/formatLine(m_run\[i\], m_lineCount + 1)/formatLine(m_run[i], m_lineCount + 2)/' \
    viewer_unit_test 'RecordDrain*'
mutation "a full run counts as running dry" viewer/live/RecordDrain.cpp \
    's/slice.ranDry = count < kRunLength;/slice.ranDry = count <= kRunLength;/' \
    viewer_unit_test 'RecordDrain*'
mutation "idle looks back off without a bound" viewer/live/RecordDrain.cpp \
    's/std::clamp(previousMs \* 2, kFirstIdleLookMs, kLongestIdleLookMs)/std::max(previousMs * 2, kFirstIdleLookMs)/' \
    viewer_unit_test 'RecordDrain*'
mutation "a suspend is not broadcast" viewer/live/PowerWatcher.cpp \
    's/emit powerBroadcast(start ? PowerEvent::kSuspend : PowerEvent::kResumeSuspend);/if (!start) emit powerBroadcast(PowerEvent::kResumeSuspend);/' \
    viewer_power_test '*'
mutation "a low battery is not broadcast" viewer/live/PowerWatcher.cpp \
    's/emit powerBroadcast(low ? PowerEvent::kBatteryLow : PowerEvent::kPowerStatusChange);/if (!low) emit powerBroadcast(PowerEvent::kPowerStatusChange);/' \
    viewer_power_test '*'
mutation "both drain timers are disconnected" viewer/live/MailboxFeed.cpp \
    '/connect(&m_pollTimer, &QTimer::timeout/d;/connect(&m_nextLook, &QTimer::timeout/d' \
    viewer_dialog_test 'QuorvaneDlgTest.TheDialogDrainsTheMailboxOnItsOwn'
mutation "the flag is written before the mailbox is closed" viewer/live/CQuorvaneDlg.cpp \
    '/^    m_feed.closeMailbox();$/d' viewer_dialog_test 'QuorvaneDlgLifetimeTest.*'

if [ "${1:-}" = "--list" ]; then
    printf '%s\n' "${names[@]}"
    exit 0
fi
pattern=${1:-.}

binary() { find build -type f -perm -u+x -name "$1" -print -quit; }

work=$(mktemp -d)
mutated=""
finished=""
restore() {
    if [ -n "$mutated" ]; then
        cp "$work/original" "$mutated"
        mutated=""
    fi
}
finish() {
    local status=$?
    restore
    rm -rf "$work"
    if [ -z "$finished" ]; then
        echo "mutate.sh: stopped ($status); every source is restored. Rebuild before testing:" >&2
        echo "  cmake --build build --target ${used_targets:-<the targets above>}" >&2
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null

chosen=()
used_targets=""
for i in "${!names[@]}"; do
    if grep -qE -- "$pattern" <<<"${names[$i]}"; then
        chosen+=("$i")
        case " $used_targets " in *" ${targets[$i]} "*) ;; *) used_targets+="${used_targets:+ }${targets[$i]}" ;; esac
    fi
done
[ "${#chosen[@]}" -gt 0 ] || { echo "no mutation matches '$pattern'" >&2; exit 2; }

# The unchanged tree first: a filter that fails already would prove nothing.
echo "building $used_targets"
# shellcheck disable=SC2086
cmake --build build -j2 --target $used_targets >"$work/build.log" 2>&1 ||
    { tail -30 "$work/build.log"; echo "the unchanged tree does not build" >&2; exit 1; }
for i in "${chosen[@]}"; do
    run="${targets[$i]} ${filters[$i]}"
    grep -qxF -- "$run" "$work/baseline" 2>/dev/null && continue
    if ! timeout 600 "$(binary "${targets[$i]}")" --gtest_filter="${filters[$i]}" >"$work/test.log" 2>&1; then
        tail -30 "$work/test.log"
        echo "fails on the unchanged tree: ${targets[$i]} --gtest_filter='${filters[$i]}'" >&2
        exit 1
    fi
    echo "$run" >>"$work/baseline"
done

results=()
killed=0
for i in "${chosen[@]}"; do
    file=${files[$i]}
    cp "$file" "$work/original"
    mutated=$file
    sed -i -e "${scripts[$i]}" "$file"
    if cmp -s "$file" "$work/original"; then
        result="NOT APPLIED (the line has changed; update this script)"
    elif ! cmake --build build -j2 --target "${targets[$i]}" >"$work/build.log" 2>&1; then
        result="DOES NOT BUILD (choose another mutation)"
    elif timeout 600 "$(binary "${targets[$i]}")" --gtest_filter="${filters[$i]}" \
        >"$work/test.log" 2>&1; then
        result="survived"
    else
        result="killed"
        killed=$((killed + 1))
    fi
    restore
    printf '%-8s %s\n' "$result" "${names[$i]}" | cut -c1-100
    results+=("| $((i + 1)) | ${names[$i]} | \`$file\` | ${targets[$i]} \`${filters[$i]}\` | $result |")
done

echo "rebuilding $used_targets from the restored sources"
# shellcheck disable=SC2086
cmake --build build -j2 --target $used_targets >"$work/build.log" 2>&1 ||
    { tail -30 "$work/build.log"; exit 1; }
finished=1

echo
echo "| # | mutation | file | test binary and filter | result |"
echo "|---|---|---|---|---|"
printf '%s\n' "${results[@]}"
echo
echo "killed $killed of ${#chosen[@]}"
[ "$killed" -eq "${#chosen[@]}" ]
