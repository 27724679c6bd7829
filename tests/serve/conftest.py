"""What the service's tests share: a running `mwconv serve` on a free
loopback port with a scratch folder of its own, requests over http.client
(no proxy), the command to compare with, and the documents: the builders'
(make_seeds) and the corpus's beside the clone (tests that need it skip
without it)."""

import http.client
import os
import signal
import subprocess
import time
import uuid
from pathlib import Path
from urllib.parse import quote

import pytest

MWCONV = os.environ.get("MWCONV", "")
BUILD = Path(os.environ.get("MWCONV_BUILD", ""))
CORPUS = Path(os.environ.get("MWCONV_CORPUS", Path(__file__).resolve().parents[3] / "shared" / "corpus"))
CORPUS_FOLDERS = ("macwrite5", "macwrite22", "macbinary", "negative")


def run_command(*args, cwd=None, stdin=None):
    return subprocess.run([MWCONV, *map(str, args)], cwd=cwd, input=stdin, capture_output=True, check=False)


class Service:
    """One `mwconv serve` process."""

    def __init__(self, scratch, *options):
        self.scratch = scratch
        # MWCONV_SERVE_TMPDIR: another scratch folder (a tmpfs) for measuring.
        env = dict(os.environ, TMPDIR=os.environ.get("MWCONV_SERVE_TMPDIR", str(scratch)))
        self.process = subprocess.Popen([MWCONV, "serve", "--listen", "127.0.0.1:0", *map(str, options)],
                                        stderr=subprocess.PIPE, env=env, text=True)
        line = self.process.stderr.readline()  # the first line says where it listens, or why it cannot
        assert "listening on http://127.0.0.1:" in line, line
        self.port = int(line.rsplit(":", 1)[1].strip(" /\n"))

    def connect(self, timeout=30):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None):
        connection = self.connect()
        try:
            headers = headers or {}
            connection.request(method, path, body=body, headers=headers, encode_chunked="Transfer-Encoding" in headers)
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def upload(self, path, data, name=None, headers=None):
        """POSTs `data`, as a form's file named `name`, or as the raw body."""
        if name is None:
            return self.request("POST", path, data, headers)
        body, content_type = form(name, data)
        return self.request("POST", path, body, dict(headers or {}, **{"Content-Type": content_type}))

    def counts(self):
        """Open descriptors and threads of the service."""
        pid = self.process.pid
        return len(os.listdir(f"/proc/{pid}/fd")), len(os.listdir(f"/proc/{pid}/task"))

    def memory_kib(self):
        for line in Path(f"/proc/{self.process.pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
        return 0

    def scratch_left(self):
        return sorted(p.name for p in Path(os.environ.get("MWCONV_SERVE_TMPDIR", self.scratch)).iterdir())

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()
        return self.process.returncode


def form(name, data, field="file"):
    boundary = uuid.uuid4().hex
    head = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"{field}\"; filename=\"{name}\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n").encode()
    return head + data + f"\r\n--{boundary}--\r\n".encode(), f"multipart/form-data; boundary={boundary}"


def decoded_header(value):
    from urllib.parse import unquote_to_bytes
    return unquote_to_bytes(value).decode("utf-8", "replace")


def settle(check, seconds=10):
    """Waits (bounded) until `check()` is true; its last value."""
    end = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() > end:
            return value
        time.sleep(0.05)


@pytest.fixture
def service(tmp_path):
    scratch = tmp_path / "scratch"
    scratch.mkdir()
    started = []

    def start(*options):
        s = Service(scratch, *options)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()


@pytest.fixture(scope="session")
def seeds(tmp_path_factory):
    folder = tmp_path_factory.mktemp("seeds")
    subprocess.run([str(BUILD / "make_seeds"), str(folder)], check=True)
    return folder


@pytest.fixture(scope="session")
def corpus():
    if not CORPUS.is_dir():
        pytest.skip(f"no corpus at {CORPUS} (set MWCONV_CORPUS to run these tests)")
    return CORPUS


@pytest.fixture(scope="session")
def documents(seeds):
    found = sorted(p for p in seeds.iterdir() if not p.name.startswith("container-"))
    if CORPUS.is_dir():
        for folder in CORPUS_FOLDERS:
            found += sorted(p for p in (CORPUS / folder).iterdir() if p.is_file())
    return found
