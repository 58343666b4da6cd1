"""The Python module traced through the built libquorvane into a real quorvane-tail.

Each script runs in a Python process of its own, as a user's would, with the mailbox of this
test; ctest names the tools and the library (QUORVANE_TAIL, QUORVANE_SEND, QUORVANE_LIBRARY) and
puts the built module on PYTHONPATH.
"""

import os
import subprocess
import sys
import textwrap
import time
import uuid

import pytest

TAIL = os.environ["QUORVANE_TAIL"]
SEND = os.environ["QUORVANE_SEND"]


@pytest.fixture
def tail(tmp_path):
    """A quorvane-tail on a mailbox of its own, reading by the time the test runs."""
    environment = dict(os.environ, QUORVANE_MAILBOX=f"python-test-{uuid.uuid4().hex[:12]}")
    output = tmp_path / "tail.txt"
    with open(output, "wb") as sink:
        process = subprocess.Popen([TAIL, "--color=never"], stdout=sink, env=environment)
    deadline = time.monotonic() + 10
    while b"probe" not in output.read_bytes():
        assert time.monotonic() < deadline, "quorvane-tail reads nothing"
        subprocess.run([SEND, "--timeout=0", "probe"], env=environment, capture_output=True)
        time.sleep(0.05)
    yield environment, output
    process.terminate()
    process.wait(timeout=10)


def run_script(environment, script):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=environment,
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return result.stdout


def traced_lines(output, count):
    """The COUNT lines after the probes as [number, sender, time, origin, entry], once they
    have arrived."""
    deadline = time.monotonic() + 10
    while True:
        lines = [line.split("\t", 4) for line in output.read_text().splitlines()]
        traced = [fields for fields in lines if "probe" not in fields[4]]
        if len(traced) >= count or time.monotonic() > deadline:
            return traced


def test_trace_scopes_and_decorators_show_nested_in_a_real_tail(tail):
    environment, output = tail
    printed = run_script(environment, """
        import quorvane

        quorvane.set_origin("pyscript")
        quorvane.trace("start", "x=1")

        @quorvane.traced
        def fact(n):
            quorvane.trace("step", f"n={n}")
            return 1 if n <= 1 else n * fact(n - 1)

        @quorvane.scope("job", "ü")
        def job():
            return fact(2)

        with quorvane.scope("outer", "n=2") as outer:
            result = job()
        try:
            with quorvane.scope("failing"):
                raise KeyError("k")
        except KeyError:
            pass
        print(outer.entered, result, quorvane.posted_count(), quorvane.dropped_count(),
              quorvane.enabled(), repr(quorvane.disabled_reason()))
    """)
    assert printed.split() == ["True", "2", "13", "0", "True", "''"]
    lines = traced_lines(output, 13)
    assert {fields[3] for fields in lines} == {"pyscript"}, lines
    assert len({fields[1] for fields in lines}) == 1, "one thread, one sender key"
    assert [fields[4] for fields in lines] == [
        "start(x=1)",
        "outer(n=2)",
        "\tjob(ü)",
        "\t\tfact()",
        "\t\t\tstep(n=2)",
        "\t\t\tfact()",
        "\t\t\t\tstep(n=1)",
        "\t\t\tfact()",
        "\t\tfact()",
        "\tjob()",
        "outer()",
        "failing()",
        "failing()",
    ]


def test_each_thread_indents_on_its_own_and_sender_keys_can_be_chosen(tail):
    environment, output = tail
    run_script(environment, """
        import threading
        import quorvane

        started = threading.Barrier(2)

        def worker(name):
            with quorvane.scope(name):
                started.wait()
                quorvane.trace("inside", name)

        threads = [threading.Thread(target=worker, args=(n,)) for n in ("a", "b")]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        quorvane.set_sender_key(77)
        quorvane.trace("chosen")
        quorvane.set_sender_key(None)
        quorvane.trace("own")
    """)
    lines = traced_lines(output, 8)
    by_thread = {}
    for fields in lines[:6]:
        by_thread.setdefault(fields[1], []).append(fields[4])
    assert sorted(by_thread.values()) == [["a()", "\tinside(a)", "a()"],
                                          ["b()", "\tinside(b)", "b()"]]
    assert lines[6][1] == "77" and lines[6][4] == "chosen()"
    assert lines[7][1] not in ("77", *by_thread), "the thread's own key again"


def test_a_mailbox_that_cannot_be_opened_drops_and_says_why(tmp_path):
    blocked = tmp_path / "not-a-directory"
    blocked.write_text("")
    environment = dict(os.environ, XDG_RUNTIME_DIR=str(blocked))
    printed = run_script(environment, """
        import quorvane
        print(quorvane.trace("lost"), quorvane.enabled(), quorvane.posted_count(),
              quorvane.disabled_code() != 0)
        print(quorvane.disabled_reason())
    """)
    first, reason = printed.splitlines()
    assert first.split() == ["False", "False", "0", "True"]
    assert "not-a-directory" in reason or "QuorvaneTraceMailbox" in reason, reason
