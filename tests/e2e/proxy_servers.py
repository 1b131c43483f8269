"""Real servers for the proxy tests: a local origin server that records what
reached it, tinyproxy (an HTTP proxy, with Basic credentials if asked) and
microsocks (a SOCKS5 proxy, with a user and password if asked)."""

import http.server
import os
import socket
import subprocess
import threading

from waits import wait_until


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, what):
    def accepts():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            return False
    wait_until(accepts, 30, "%s listening on %d" % (what, port))


class OriginServer:
    """An HTTP server on 127.0.0.1 that answers every GET with "origin <path>"
    (or the body given for that path) and records (path, Via header, connection's client port). With
    |keep_alive| it keeps connections open (HTTP/1.1), else it closes each."""

    def __init__(self, keep_alive=False, bodies=None, held=()):
        self.requests = []
        records = self.requests
        bodies = bodies or {}
        # Answers to these paths wait for release(path): requests in flight.
        self.releases = {path: threading.Event() for path in held}
        releases = self.releases

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                records.append({"path": self.path, "via": self.headers.get("Via"),
                                "peer": self.client_address[1]})
                if self.path in releases:
                    releases[self.path].wait(60)
                body = bodies.get(self.path, "origin " + self.path).encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Access-Control-Allow-Origin", "*")
                self.send_header("Cache-Control", "no-store")
                if not keep_alive:
                    self.send_header("Connection", "close")
                    self.close_connection = True
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.url = "http://127.0.0.1:%d" % self.port
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def release(self, path):
        self.releases[path].set()

    def request(self, path):
        found = [r for r in self.requests if r["path"] == path]
        assert len(found) == 1, "requests for %s: %r (all: %r)" % (path, found, self.requests)
        return found[0]

    def close(self):
        for event in self.releases.values():
            event.set()
        self.server.shutdown()
        self.server.server_close()


class Tinyproxy:
    """tinyproxy on 127.0.0.1, in the foreground, logging to a file."""

    def __init__(self, root, name="tinyproxy", user=None, password=None):
        self.port = free_port()
        self.log_path = os.path.join(root, name + ".log")
        config = os.path.join(root, name + ".conf")
        lines = ["Port %d" % self.port, "Listen 127.0.0.1", "Timeout 60", "LogLevel Info",
                 "LogFile \"%s\"" % self.log_path, "MaxClients 20"]
        if user:
            lines.append("BasicAuth %s %s" % (user, password))
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_for_port(self.port, name)

    def log(self):
        try:
            with open(self.log_path, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class Microsocks:
    """microsocks on 127.0.0.1, with a user and password if given."""

    def __init__(self, user=None, password=None):
        self.port = free_port()
        command = ["microsocks", "-i", "127.0.0.1", "-p", str(self.port)]
        if user:
            command += ["-u", user, "-P", password]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_port(self.port, "microsocks")

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class TcpRecorder:
    """A TCP listener on 127.0.0.1 that counts the connections it accepts
    and closes them: the target of a CONNECT tunnel, whose TLS never starts."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.accepted = 0
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.accepted += 1
            connection.close()

    def close(self):
        self.listener.close()
