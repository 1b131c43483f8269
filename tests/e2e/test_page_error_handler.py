"""The error handler object with the real host: the store's merge rules,
one object per process across page loads, and the error page the host
loads for a failed navigation."""

import re
import socket

import pytest

from page_suite import run_suite

ERROR_PAGE = "vesk://vesk/res/app_init.html"


@pytest.fixture
def failing_url():
    """An address where nobody listens: a port bound but not listening, so
    connections are refused and nobody else takes the port meanwhile."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as bound:
        bound.bind(("127.0.0.1", 0))
        yield "http://127.0.0.1:%d/unreachable" % bound.getsockname()[1]


def test_error_handler_suite(program, failing_url):
    failing = failing_url
    result = run_suite(program, "error_handler", runs=2, files={"res/failing_url.txt": failing})
    # The engine's text for the failure, as the host logged it.
    failed = program.wait_for_log(r"Load failed: " + re.escape(failing) + " (.+)$")[0]
    error_text = failed.group(1)
    expected = ERROR_PAGE + "?url=" + failing + "&error_text=" + error_text + "&a=1&b=3"
    pages = re.findall(r"Load error page: (.*)$", result.log, re.MULTILINE)
    assert pages == [expected]
    # What the page saw is the same address as the engine parsed it.
    assert result.reports["search"] == expected[len(ERROR_PAGE):].replace(" ", "%20")

    # Switched off: the second failure loads no error page.
    program.wait_for_log(r"Load failed: " + re.escape(failing + "/again"))
    assert len(re.findall(r"Load error page: ", program.log())) == 1
