"""quorvel-server, and nginx in front of it, for the tests: each on a loopback
port, waited for within a deadline, and stopped when the test is over or the
interpreter exits, whatever happened."""
import atexit
import http.client
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

WORK = tempfile.mkdtemp(prefix="quorvel-test-")
_running = []


@atexit.register
def _stop_everything():
    for process in list(_running):
        process.stop()
    shutil.rmtree(WORK, ignore_errors=True)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def request(port, target, headers=None, method="GET", body=None, timeout=60):
    """The status, headers and body of the answer to one request on a connection of its own."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request(method, target, body=body, headers=headers or {})
        response = conn.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        conn.close()


class _Process:
    def stop(self):
        """Stops the process; whether it was still running."""
        alive = self.process.poll() is None
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        if self in _running:
            _running.remove(self)
        return alive


class Server(_Process):
    """The server on folder at 127.0.0.1:port (0: a port the system picks, read
    from the log's line that tells it, whichever line that is), its log in a
    file and its overviews in the cache folder."""

    def __init__(self, program, folder, *extra, prefix=(), port=0, cache=None):
        log, self.log_path = tempfile.mkstemp(".log", "server-", WORK)
        env = dict(os.environ, XDG_CACHE_HOME=cache or os.path.join(WORK, "cache"))
        env.pop("QT_QPA_PLATFORM", None)  # the server chooses offscreen itself
        with os.fdopen(log, "w") as log:
            self.process = subprocess.Popen([*prefix, program, "--folder", folder, "--listen", f"127.0.0.1:{port}",
                                             *extra], stdin=subprocess.DEVNULL, stderr=log, env=env)
        _running.append(self)
        deadline = time.monotonic() + 60
        while not (told := self.lines("listening on http://127.0.0.1:")):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("the server did not start:\n" + "\n".join(self.lines()))
            time.sleep(0.05)
        self.port = int(told[0].split("127.0.0.1:")[1].split("/")[0])
        self.base = f"http://127.0.0.1:{self.port}"

    def get(self, target, headers=None, method="GET", body=None, timeout=60):
        return request(self.port, target, headers, method, body, timeout)

    def connect(self, timeout=30):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def lines(self, text=""):
        with open(self.log_path, errors="replace") as log:
            return [line.rstrip("\n") for line in log if text in line]

    def logged(self, text, seconds=30):
        """The log's lines holding text, once there is one: the server writes
        a request's line after its answer has left, so a client may be first."""
        deadline = time.monotonic() + seconds
        while not (found := self.lines(text)) and time.monotonic() < deadline:
            time.sleep(0.05)
        return found


class ServerCase(unittest.TestCase):
    """Tests sharing one server, started with the class's arguments."""
    arguments = ()

    @classmethod
    def setUpClass(cls):
        cls.server = Server(*cls.arguments)
        cls.addClassCleanup(cls.server.stop)


class Nginx(_Process):
    """nginx with the shipped site file in front of the server at backend_port,
    on a free port, with its files and its tiles' cache in a folder of its own."""

    def __init__(self, site_file, backend_port, read_timeout=60):
        self.port = free_port()
        root = tempfile.mkdtemp(prefix="nginx-", dir=WORK)
        with open(site_file) as f:
            site = f.read()
        for shipped, here in [("listen 80;", f"listen 127.0.0.1:{self.port};"), ("listen [::]:80;", ""),
                              ("server 127.0.0.1:8080;", f"server 127.0.0.1:{backend_port};"),
                              ("proxy_read_timeout 60s;", f"proxy_read_timeout {read_timeout}s;"),
                              ("/var/cache/nginx/quorvel", os.path.join(root, "cache"))]:
            site = site.replace(shipped, here)
        with open(os.path.join(root, "site"), "w") as f:
            f.write(site)
        user = "user root;" if os.geteuid() == 0 else ""
        temporary = " ".join(f"{kind}_temp_path {root}/{kind};" for kind in ("client_body", "proxy", "fastcgi",
                                                                             "uwsgi", "scgi"))
        with open(os.path.join(root, "nginx.conf"), "w") as f:
            f.write(f"{user} daemon off; worker_processes 1; pid {root}/nginx.pid; error_log {root}/error.log;\n"
                    f"events {{ worker_connections 256; }}\n"
                    f"http {{ access_log off; {temporary} include {root}/site; }}\n")
        self.process = subprocess.Popen(["nginx", "-p", root, "-c", os.path.join(root, "nginx.conf")],
                                        stderr=subprocess.DEVNULL)
        _running.append(self)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("nginx did not start")
                time.sleep(0.05)


def read_all(s, limit=1 << 26):
    """Everything the other side sends until it closes (what came before a reset or a silence)."""
    data = b""
    try:
        while len(data) < limit:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, socket.timeout):
        pass
    return data


def answers(data):
    """The (status, headers, body) of each answer in the bytes, in order; headers' names in lower case."""
    found = []
    while data.startswith(b"HTTP/1.1 "):
        head, _, rest = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        headers = {k.lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
        length = int(headers["content-length"])
        found.append((int(lines[0].split(" ")[1]), headers, rest[:length]))
        data = rest[length:]
    return found


def exchange(port, data, timeout=30):
    """The answers to bytes sent as they are on one connection, until it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        try:
            s.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass
        return answers(read_all(s))


def linked_folder(source, name, copied=(), left_out=()):
    """A folder of WORK named name, like source: links to its files, but copies
    of those named in copied (to be changed in place) and none of left_out.
    Names are relative to source."""
    folder = os.path.join(WORK, name)
    for root, _, files in os.walk(source):
        here = os.path.relpath(root, source)
        os.makedirs(os.path.join(folder, here), exist_ok=True)
        for file in files:
            relative = os.path.normpath(os.path.join(here, file))
            if relative in copied:
                shutil.copyfile(os.path.join(root, file), os.path.join(folder, relative))
            elif relative not in left_out:
                os.symlink(os.path.join(os.path.abspath(root), file), os.path.join(folder, relative))
    return folder
