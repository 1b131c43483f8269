"""The proxy helper object with the real host: the page suite, and the log
line for credentials on a proxy that is not http (without the password)."""

from page_suite import run_suite


def test_proxy_helper_suite(program):
    result = run_suite(program, "proxy_helper")
    line = "Only Http Proxy Support Authentication. Now The Proxy Issocks5://user:***@s:1080"
    assert line in result.log
    assert ":ERROR:" in [l for l in result.log.splitlines() if line in l][0]
    assert "user:pw@" not in result.log
