"""quorvel-server on a free loopback port, and quorvel-batch, for the page's tests and benchmark."""
import socket
import subprocess
import time
import urllib.request


class Server:
    def __init__(self, process, base):
        self.process = process
        self.base = base

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def started_server(program, folder, port=None):
    port = port or free_port()
    process = subprocess.Popen([program, "--folder", folder, "--listen", f"127.0.0.1:{port}"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    base = f"http://127.0.0.1:{port}"
    deadline = time.monotonic() + 30
    while True:
        try:
            with urllib.request.urlopen(base + "/api/v1/health", timeout=2):
                return Server(process, base)
        except OSError:
            if process.poll() is not None or time.monotonic() > deadline:
                process.kill()
                raise RuntimeError(f"{program} did not start on {base}")
            time.sleep(0.05)  # polling the port until it answers


def run_batch(program, folder, points, reports=None):
    """quorvel-batch's results file for these points (CSV text), and its reports when asked."""
    command = [program, "-", "--folder", folder] + (["--reports", reports] if reports else [])
    return subprocess.run(command, input=points, capture_output=True, text=True, check=False).stdout
