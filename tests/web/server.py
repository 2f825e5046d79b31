"""quorvel-server on a free loopback port, and quorvel-batch, for the page's tests and benchmark."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "server"))
from serverproc import Server  # noqa: E402


def started_server(program, folder, port=0):
    return Server(program, folder, port=port)


def run_batch(program, folder, points, reports=None):
    """quorvel-batch's results file for these points (CSV text), and its reports when asked."""
    command = [program, "-", "--folder", folder] + (["--reports", reports] if reports else [])
    return subprocess.run(command, input=points, capture_output=True, text=True, check=False).stdout
