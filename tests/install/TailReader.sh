# Sourced by the install tests: a real quorvane-tail reading the mailbox $QUORVANE_MAILBOX into
# a file, known to be reading (its probe records arrive) before the traced programs run.

# start_tail BIN-DIR FILE: BIN-DIR's quorvane-tail writes FILE; probes go through its quorvane-send.
start_tail() {
    "$1/quorvane-tail" --color=never >"$2" &
    tail_pid=$!
    local tries
    for ((tries = 0; ; ++tries)); do
        grep -q probe "$2" && return 0
        ((tries < 200)) || { echo "FAIL: $1/quorvane-tail reads nothing"; exit 1; }
        "$1/quorvane-send" --timeout=0 probe >/dev/null 2>&1 || true
        sleep 0.05
    done
}

# stop_tail FILE COUNT: waits for COUNT lines besides the probes, ends the tail, and sets
# `traced` to those lines from the origin column on.
stop_tail() {
    local tries
    for ((tries = 0; $(grep -vc probe "$1") < $2; ++tries)); do
        ((tries < 200)) || { cat "$1"; echo "FAIL: the traced records did not arrive"; exit 1; }
        sleep 0.05
    done
    kill -TERM "$tail_pid"
    wait "$tail_pid"
    tail_pid=
    traced="$(grep -v probe "$1" | cut -f4-)"
}

# check_examples LINES: the lines of one run of each example and of the Python line.
check_examples() {
    [[ "$(grep -c $'^example_cpp\t.*fib(n=' <<<"$1")" == 9 ]] || { echo "FAIL: C++ lines: $1"; exit 1; }
    [[ "$(grep -c $'^example-c\t' <<<"$1")" == 5 ]] || { echo "FAIL: C lines: $1"; exit 1; }
    grep -qx $'python3\thello(from Python)' <<<"$1" || { echo "FAIL: Python line: $1"; exit 1; }
}
