"""window.browser with the real program, its real cookie store and a real
HTTP server started here: cookies the server set are read, cookies the page
writes, deletes and moves arrive (or stop arriving) in the server's
requests, another origin's local storage is read without a window, and the
argument and message cases. The file-input click with pending uploads is in
test_browser_upload.py."""

import http.server
import threading
import time

from page_suite import parse_suite_lines, start_suite

STORE_PAGE = (b"<!doctype html><script>localStorage.setItem('stored', 'value from A');"
              b"fetch('/stored');</script>")


class Server:
    """Records the Cookie header of every request by its path."""

    def __init__(self):
        self.seen = []  # (path, cookie header)
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with server.lock:
                    server.seen.append((self.path, self.headers.get("Cookie", "")))
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Cache-Control", "no-store")
                body = b"<!doctype html><p>ok</p>"
                if self.path == "/set":
                    self.send_header("Set-Cookie", "srv=fromserver; Path=/")
                    self.send_header("Set-Cookie", "hidden=secret; Path=/; HttpOnly")
                    body = STORE_PAGE
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def cookies_of(self, path, timeout=30):
        """The Cookie header of the first request for |path|, once it came."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                for seen_path, cookies in self.seen:
                    if seen_path == path:
                        return cookies
            time.sleep(0.05)
        raise AssertionError("the server never saw %s; it saw %s" % (path, self.seen))

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def cookie_names(header):
    return dict(part.strip().split("=", 1) for part in header.split(";") if "=" in part)


def test_browser_object(program):
    server = Server()
    program.env.update(no_proxy="*", NO_PROXY="*")
    try:
        session = start_suite(program, "browser", "--enable-invoke-trace",
                              files={"res/server.js": "var SERVER = 'http://127.0.0.1:%d';\n" % server.port})
        pid = session.process.pid

        # Each visit: the driver releases the page once the server served it.
        assert session.wait_for_report("visit") == "served-set"
        server.cookies_of("/stored")  # the page of origin A wrote its storage
        session.signal("served-set")

        _wait_for_visit(session, "served-after-set")
        assert cookie_names(server.cookies_of("/echo?after-set")).get("fromPage") == "v1"
        session.signal("served-after-set")

        _wait_for_visit(session, "served-after-remove")
        remaining = cookie_names(server.cookies_of("/echo?after-remove"))
        assert "fromPage" not in remaining and remaining.get("srv") == "fromserver"
        session.signal("served-after-remove")

        _wait_for_visit(session, "served-moved")
        assert cookie_names(server.cookies_of("/echo?moved")).get("srv") == "fromserver"
        session.signal("served-moved")

        before = set(program.visible_windows(pid))
        assert before, "the suite's window is shown"
        session.signal("windows-counted")
        session.wait_for_report("storage")
        assert not set(program.visible_windows(pid)) - before, "reading the storage showed no window"
        session.signal("windows-compared")

        result = session.finish()
        assert "No Such Cookie nosuch\n" in result.log
        assert "No Such Cookie nosuchmoved\n" in result.log
        assert "Failed to move cookie hidden from 127.0.0.1 to http://localhost\n" in result.log
        assert "Failed to set cookie(a=b; c=d) to http://127.0.0.1:%d/\n" % server.port in result.log
        assert "Failed to delete cookie(a) to not a url\n" in result.log
        # Calls are traced with the switch, except the click.
        assert "plugin::VeskJsObject<class plugin::Browser>::Execute::getCookie(" in result.log
        assert "::clickFileInput(" not in result.log
    finally:
        server.close()


def _wait_for_visit(session, step):
    """Waits until the page asks for |step|; a failed case ends the wait."""
    deadline = time.monotonic() + 60
    while session.wait_for_report("visit") != step:
        runs = parse_suite_lines(session.program.log())[0]
        failures = [result for run in runs for result in run.results if not result[1]]
        assert not failures, "failed before %s: %s" % (step, failures)
        assert time.monotonic() < deadline, "the page never asked for " + step
        time.sleep(0.05)
