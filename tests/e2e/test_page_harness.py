"""The page-suite driver itself: a suite that fails, hangs or dies must fail
the test, with the reason in the message."""

import pytest

from page_suite import run_suite


def test_passing_suite_hands_over_its_reports(program):
    result = run_suite(program, "harness_selftest", files={"mode.txt": "pass"})
    assert result.reports == {"mode": "pass"}
    assert [(run.plan, len(run.results), run.done) for run in result.runs] == [(1, 1, True)]


@pytest.mark.parametrize("mode, message", [
    ("fail", "FAIL second: numbers: expected 2, got 1"),
    ("throw", "FAIL second: null is not an object"),
    ("timeout", "FAIL second: timed out after 300 ms"),
    ("exit", "planned 3 cases, 1 reported"),
    ("bad name", 'script error: Error: a case name holds no ": "'),
])
def test_bad_suites_fail_the_test(program, mode, message):
    with pytest.raises(AssertionError) as failure:
        run_suite(program, "harness_selftest", files={"mode.txt": mode}, timeout=30)
    assert message in str(failure.value)
    if mode == "exit":
        assert "the program ended (exit code 0)" in str(failure.value)
