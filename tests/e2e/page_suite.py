"""Driver for page suites: test pages that run groups of cases inside the
real program and report through console lines in the program's log.

A suite is tests/e2e/pages/<name>.html using tests/e2e/pages/harness.js (see
that file for the line format, and docs/testing.md for how to write one).
`run_suite` builds a temporary site from the page and the harness, starts the
real program on it with `--vesk-package-dir`, waits for the suite to finish and
fails the test on any failed case, any case that never reported, a crash or a
timeout. The program keeps running afterwards (the `program` fixture ends it),
so a test can check outside facts while it is still up. `start_suite` gives a
session instead, for suites that pause until the driver has looked at
something outside the page (`wait_for_report`, then `signal`).
"""

import json
import os
import re
import shutil
import time
from dataclasses import dataclass, field

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages")

# The extension writes console messages as "[CONSOLE:<file>(<line>)] <text>".
_LINE = re.compile(r"\[CONSOLE:[^\]]*\(\d+\)\] "
                   r"(SUITE PLAN (\d+)|SUITE DONE|CASE (PASS|FAIL) (.*)|REPORT (\S+) (.*)|SUITE ERROR (.*))$")


@dataclass
class SuiteRun:
    plan: int
    results: list = field(default_factory=list)  # (name, passed, message)
    done: bool = False


@dataclass
class SuiteResult:
    process: object  # the running program (subprocess.Popen)
    site: str  # the site directory given to --vesk-package-dir
    runs: list  # one SuiteRun per page run
    reports: dict  # key -> last reported value
    report_list: list  # every (key, value) in order
    log: str  # the program's log when the suite ended


def build_site(program, suite, files=None):
    """<tmp>/site/res/app_init.html from pages/<suite>.html, plus harness.js
    and |files| ({relative path under the site: text or bytes})."""
    site = os.path.join(program.root, "site")
    res = os.path.join(site, "res")
    os.makedirs(res, exist_ok=True)
    shutil.copyfile(os.path.join(PAGES, suite + ".html"), os.path.join(res, "app_init.html"))
    shutil.copyfile(os.path.join(PAGES, "harness.js"), os.path.join(res, "harness.js"))
    for relative, contents in (files or {}).items():
        path = os.path.join(site, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(contents.encode() if isinstance(contents, str) else contents)
    return site


def parse_suite_lines(log):
    """The suite runs and reports found in a log text."""
    runs, report_list, errors = [], [], []
    for line in log.splitlines():
        match = _LINE.search(line)
        if not match:
            continue
        if match.group(7) is not None:
            errors.append(match.group(7))
        elif match.group(2) is not None:
            runs.append(SuiteRun(plan=int(match.group(2))))
        elif match.group(1) == "SUITE DONE":
            if runs:
                runs[-1].done = True
        elif match.group(3):
            passed = match.group(3) == "PASS"
            text = match.group(4)
            name, _, message = (text, "", "") if passed else text.partition(": ")
            if runs:
                runs[-1].results.append((name, passed, message))
        else:
            report_list.append((match.group(5), json.loads(match.group(6))))
    return runs, report_list, errors


def _problems(runs, expected_runs, errors=()):
    problems = ["script error: " + error for error in errors]
    if len(runs) < expected_runs:
        problems.append("%d of %d suite runs started" % (len(runs), expected_runs))
    for index, run in enumerate(runs):
        where = "run %d: " % (index + 1) if expected_runs > 1 else ""
        for name, passed, message in run.results:
            if not passed:
                problems.append("%sFAIL %s: %s" % (where, name, message))
        if not run.done:
            problems.append("%snever reached SUITE DONE" % where)
        if len(run.results) != run.plan:
            problems.append("%splanned %d cases, %d reported" % (where, run.plan, len(run.results)))
    return problems


class SuiteSession:
    """A suite page running in the program (see start_suite)."""

    def __init__(self, program, suite, process, site, runs, timeout):
        self.program, self.suite, self.process, self.site = program, suite, process, site
        self.expected_runs = runs
        self.deadline = time.monotonic() + timeout
        self.timeout = timeout

    def _check_alive(self, waiting_for):
        problem = None
        if parse_suite_lines(self.program.log())[2]:
            problem = "the page had a script error while waiting for %s" % waiting_for
        elif self.process.poll() is not None:
            problem = "the program ended (exit code %s) while waiting for %s" % (self.process.returncode, waiting_for)
        elif time.monotonic() > self.deadline:
            problem = "timed out after %ds waiting for %s" % (self.timeout, waiting_for)
        if problem:
            log = self.program.log()
            found, _, errors = parse_suite_lines(log)
            details = _problems(found, self.expected_runs, errors)
            raise AssertionError("%s\n%s\n--- log tail ---\n%s" % (problem, "\n".join(details), log[-6000:]))

    def wait_for_report(self, key):
        """Waits until the page reported |key|; returns the value."""
        while True:
            _, report_list, _ = parse_suite_lines(self.program.log())
            values = [value for name, value in report_list if name == key]
            if values:
                return values[-1]
            self._check_alive("report " + key)
            time.sleep(0.05)

    def signal(self, step):
        """Releases the page's suite.waitForDriver(step)."""
        path = os.path.join(self.site, "driver", step)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("go\n")  # the scheme serves no empty files

    def finish(self):
        """Waits for every run's SUITE DONE; fails on failed or missing cases."""
        while True:
            log = self.program.log()
            found, report_list, errors = parse_suite_lines(log)
            if sum(1 for run in found if run.done) >= self.expected_runs:
                break
            self._check_alive("SUITE DONE")
            time.sleep(0.05)
        problems = _problems(found, self.expected_runs, errors)
        if problems:
            raise AssertionError("suite %s failed:\n%s\n--- log tail ---\n%s"
                                 % (self.suite, "\n".join(problems), log[-6000:]))
        return SuiteResult(process=self.process, site=self.site, runs=found, reports=dict(report_list),
                           report_list=report_list, log=log)


def start_suite(program, suite, *args, files=None, runs=1, timeout=90):
    """Starts the program on pages/<suite>.html with |args| and returns a
    SuiteSession without waiting. |runs| is the number of page runs that each
    end in SUITE DONE (a suite whose page reloads itself runs more than once);
    |timeout| bounds the whole session."""
    site = build_site(program, suite, files)
    process = program.start("--vesk-package-dir=" + site, *args)
    return SuiteSession(program, suite, process, site, runs, timeout)


def run_suite(program, suite, *args, files=None, runs=1, timeout=90):
    """start_suite(...).finish(): runs the suite to its end. Returns a
    SuiteResult; raises AssertionError on any failed or missing case, a
    program that ended early, or a timeout."""
    return start_suite(program, suite, *args, files=files, runs=runs, timeout=timeout).finish()
