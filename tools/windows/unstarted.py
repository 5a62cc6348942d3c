#!/usr/bin/env python3
"""Tells, from CTest's JUnit report of a run under Wine, which failed tests
Wine never started.

    unstarted.py REPORT.xml

Prints the name of each failed test whose program printed nothing of
GoogleTest's (no "Running main() from" line, no "[==========]" line): Wine
did not start it, and only such a test is worth running once more. Exits 1,
naming them on standard error, when any failed test did start: that failure
is the program's own, and a second try must not hide it.

    unstarted.py --self-test

checks the rule on reports shaped as CTest writes them.
"""
import sys
import xml.etree.ElementTree as ElementTree

STARTED = ("Running main() from", "[==========]")


def classify(report_text):
    """(unstarted, started) names among the failed tests of a report."""
    unstarted, started = [], []
    for case in ElementTree.fromstring(report_text).iter("testcase"):
        if case.get("status") != "fail" and case.find("failure") is None:
            continue
        out = "".join(e.text or "" for e in case.iter() if e.tag in ("system-out", "failure"))
        (started if any(m in out for m in STARTED) else unstarted).append(case.get("name"))
    return unstarted, started


def self_test():
    report = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="Windows" tests="4" failures="3">
  <testcase name="Decoder.Passes" classname="Decoder.Passes" time="0.1" status="run">
    <system-out>Running main() from gtest_main.cc
[==========] Running 1 test from 1 test suite.</system-out>
  </testcase>
  <testcase name="Decoder.NeverStarted" classname="Decoder.NeverStarted" time="0.3" status="fail">
    <failure message=""/>
    <system-out></system-out>
  </testcase>
  <testcase name="Decoder.WineSaidWhy" classname="Decoder.WineSaidWhy" time="0.3" status="fail">
    <failure message=""/>
    <system-out>wine: could not load kernel32.dll, status c0000135</system-out>
  </testcase>
  <testcase name="Threads.Race" classname="Threads.Race" time="2.0" status="fail">
    <failure message=""/>
    <system-out>Running main() from gtest_main.cc
Note: Google Test filter = Threads.Race
[==========] Running 1 test from 1 test suite.
[  FAILED  ] Threads.Race</system-out>
  </testcase>
</testsuite>"""
    got = classify(report)
    want = (["Decoder.NeverStarted", "Decoder.WineSaidWhy"], ["Threads.Race"])
    if got != want:
        print("unstarted.py: classified %r, expected %r" % (got, want), file=sys.stderr)
        return 1
    print("1 passed, 0 failed")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8", errors="replace") as f:
        unstarted, started = classify(f.read())
    for name in unstarted:
        print(name)
    if started:
        for name in started:
            print("failed under Wine, not retried: " + name, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
