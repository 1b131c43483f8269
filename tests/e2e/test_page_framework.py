"""The script-object framework in the real program: objects in every frame,
member layout, read-only properties, setter checks and the invoke trace."""

import re

from page_suite import run_suite

APP_EXECUTE = "plugin::VeskJsObject<class plugin::App>::Execute::"


def test_framework_suite_with_invoke_trace(program):
    result = run_suite(program, "framework", "--enable-invoke-trace")
    log = result.log
    assert APP_EXECUTE + "getErrorHandler(a, [array Array], [function Function], (k:(m:1)))" in log
    # The fourth nested object prints as "[object Object]" in its parentheses.
    assert APP_EXECUTE + "getAutoRunState((a:(b:(c:([object Object])))))" in log
    assert "plugin::VeskJsObject<class plugin::App>::Set::onExitMessage(5)" in log
    # A property without setter never reaches native code, so nothing is traced.
    assert "::Set::version" not in log
    # Reads are never traced.
    assert "::Get::" not in log and "::version(" not in log


def test_no_trace_without_the_switch(program):
    result = run_suite(program, "framework")
    assert not re.search(r"plugin::VeskJsObject<class plugin::\w+>::", result.log)
