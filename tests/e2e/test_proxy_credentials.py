"""Proxy credentials: a proxy that demands Basic credentials (tinyproxy's
BasicAuth) gets the stored ones, for http requests and for an https
target's CONNECT, for a window's page, a page's fetch of another origin and
a frame of another origin; wrong or missing ones end the request without a
dialog and never reach the target."""

import json
import re

import pytest

from page_suite import start_suite
from proxy_servers import OriginServer, TcpRecorder, Tinyproxy
from test_proxy_routes import PROXY_VARIABLES
from waits import wait_until


@pytest.fixture
def proxies(program):
    for name in PROXY_VARIABLES:
        program.env.pop(name, None)
    made = {name: Tinyproxy(program.root, name, user="user-" + name, password="secret-" + name)
            for name in ("right", "wrong")}
    yield made
    for proxy in made.values():
        proxy.close()


def entry(url, proxy, user=None, password=None):
    record = {"scheme": "http", "host": "127.0.0.1", "port": proxy.port}
    if user:
        record.update(username=user, password=password)
    return {"entry": url, "proxy": record}


def requests_seen(proxy, target):
    """How many requests for |target| ("host:port" or a URL) the proxy logged."""
    return len(re.findall(r"Request \(file descriptor \d+\): (?:GET|CONNECT) \S*%s" % re.escape(target),
                          proxy.log()))


def test_wrong_credentials_never_reach_the_target(program, proxies):
    origin = OriginServer()
    tunnel = TcpRecorder()
    wrong = proxies["wrong"]
    tunnel_url = "https://127.0.0.1:%d" % tunnel.port
    # One window at a time: the engine may refuse a challenge outright while
    # another one waits for the host.
    steps = [
        entry(origin.url, wrong, "user-wrong", "not-the-password"),
        # No credentials of its own: the wrong ones are found by the proxy's
        # host and port.
        entry(tunnel_url, wrong),
        {"window": origin.url + "/wrong"},
        {"wait": "wrong-answered"},
        {"window": tunnel_url + "/tunnel"},
    ]
    sent = r"Proxy 127\.0\.0\.1:%d asked for credentials; the stored ones sent"
    session = start_suite(program, "proxy_routes", files={"res/plan.json": json.dumps(steps)})
    try:
        # No dialog: the host answers the wrong proxy's challenge with the
        # stored ones. (The tunnel's challenge to the same proxy the engine
        # may answer from what it kept of that one.)
        program.wait_for_log(sent % wrong.port)
        session.signal("wrong-answered")
        session.finish()
        wait_until(lambda: requests_seen(wrong, "127.0.0.1:%d" % tunnel.port), what="the tunnel's CONNECT",
                   state=lambda: wrong.log()[-2000:])
        # The request went to the proxy again with the wrong credentials and
        # was refused there: the target never saw it.
        wait_until(lambda: requests_seen(wrong, origin.url) >= 2, what="the request with the stored credentials",
                   state=lambda: wrong.log()[-2000:])
        assert origin.requests == [] and tunnel.accepted == 0
        assert "not-the-password" not in program.log()
        # tinyproxy refuses wrong credentials with a 401, a site's challenge
        # to the engine: no login dialog holds the window's load, which ends
        # with that answer.
        program.wait_for_log(r"Server 127\.0\.0\.1:%d asked for credentials; none given" % origin.port)
        program.wait_for_log(r"Load finished: %s/wrong" % re.escape(origin.url))
    finally:
        origin.close()
        tunnel.close()


def test_stored_credentials_are_sent_for_http_and_connect(program, proxies):
    origin = OriginServer()
    tunnel = TcpRecorder()
    right = proxies["right"]
    tunnel_url = "https://127.0.0.1:%d" % tunnel.port
    steps = [
        entry(origin.url, right, "user-right", "secret-right"),
        entry(tunnel_url, right),
        {"window": origin.url + "/right"},
        {"window": tunnel_url + "/tunnel"},
    ]
    session = start_suite(program, "proxy_routes", files={"res/plan.json": json.dumps(steps)})
    try:
        session.finish()
        wait_until(lambda: origin.requests, what="the request through the authenticating proxy")
        assert "tinyproxy" in origin.request("/right")["via"]
        # CONNECT with the right credentials reaches the target (whose TLS
        # then fails).
        wait_until(lambda: tunnel.accepted >= 1, what="the tunnel through the authenticating proxy")
        assert "secret-right" not in program.log()
    finally:
        origin.close()
        tunnel.close()


def test_a_fetch_and_a_frame_of_another_origin_get_the_stored_credentials(program, proxies):
    fetched, framed = OriginServer(), OriginServer()
    right = proxies["right"]
    steps = [
        entry(fetched.url, right, "user-right", "secret-right"),
        entry(framed.url, right, "user-right", "secret-right"),
        # The first request through the proxy is the fetch: nothing the
        # engine kept from an earlier challenge can answer it.
        {"fetch": fetched.url + "/fetched"},
        {"fetches": [fetched.url + "/together-1", framed.url + "/together-2"]},
        {"frame": framed.url + "/framed"},
    ]
    session = start_suite(program, "proxy_routes", files={"res/plan.json": json.dumps(steps)})
    try:
        reports = session.finish().reports
        assert reports["fetch_2"] == "ok 200 origin /fetched", reports
        assert reports["fetches_3"] == "ok 200 origin /together-1 | ok 200 origin /together-2", reports
        assert "tinyproxy" in fetched.request("/fetched")["via"]
        assert "tinyproxy" in framed.request("/framed")["via"]
        assert re.search(r"Proxy 127\.0\.0\.1:%d asked for credentials; the stored ones sent" % right.port,
                         program.log())
    finally:
        fetched.close()
        framed.close()


def test_missing_credentials_end_the_loads_without_a_dialog(program, proxies):
    origin = OriginServer()
    right = proxies["right"]
    steps = [
        entry(origin.url, right),
        {"fetches": [origin.url + "/fetch-1", origin.url + "/fetch-2"]},
        {"window": origin.url + "/window"},
        {"fetch": origin.url + "/after"},
    ]
    session = start_suite(program, "proxy_routes", files={"res/plan.json": json.dumps(steps)})
    try:
        reports = session.finish().reports
        # Overlapping challenges each end, with the engine's error.
        assert reports["fetches_1"] == "error Load failed | error Load failed", reports
        assert reports["fetch_3"] == "error Load failed", reports
        program.wait_for_log(r"Load failed: %s/window" % re.escape(origin.url))
        assert re.search(r"Proxy 127\.0\.0\.1:%d asked for credentials; none stored; request cancelled"
                         % right.port, program.log())
        assert origin.requests == []
    finally:
        origin.close()
