"""mwconv serve against the command: the same bytes, messages and statuses,
and nothing left behind by requests that go wrong."""

import io
import json
import os
import signal
import socket
import threading
import time
import zipfile
from pathlib import Path
from urllib.parse import quote

import pytest

from conftest import decoded_header, form, run_command, settle


def command_files(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


def test_every_document_in_every_format_is_the_commands(service, documents):
    s = service("-j", "2")
    status, _, body = s.request("GET", "/formats")
    formats = json.loads(body)
    assert status == 200 and "html" in formats and "macwrite5" in formats
    for path in documents:
        data = path.read_bytes()
        for to in formats:
            expected = run_command("-t", to, path.name, cwd=path.parent)
            status, headers, body = s.upload(f"/convert?to={to}", data, name=path.name)
            where = f"{path.name} to {to}"
            if expected.returncode in (0, 4):
                assert status == 200, where
                assert body == expected.stdout, where
                assert headers["Content-Disposition"].endswith(f"UTF-8''{path.name}.{'mw5' if to == 'macwrite5' else {'text': 'txt', 'markdown': 'md'}.get(to, to)}"), where
                damaged = decoded_header(headers["Mwconv-Damaged"]) if "Mwconv-Damaged" in headers else ""
                assert damaged == expected.stderr.decode().strip(), where
            else:
                problem = json.loads(body)
                assert (status, problem["status"]) == (422, 422), where
                assert problem["detail"] == expected.stderr.decode().strip(), where
                assert headers["Content-Type"] == "application/problem+json", where


def test_answers_carry_types_names_and_policies(service, seeds):
    s = service()
    data = (seeds / "macwrite5-example").read_bytes()
    # A raw body has no name, as standard input has none.
    status, headers, body = s.upload("/convert?to=html&fragment", data)
    assert status == 200 and body == run_command("-t", "html", "--fragment", stdin=data).stdout
    assert headers["Content-Type"] == "text/html; charset=utf-8"
    assert headers["Content-Security-Policy"] == "default-src 'none'; img-src data:; style-src 'unsafe-inline'; sandbox"
    assert headers["X-Content-Type-Options"] == "nosniff"
    assert 'filename="Untitled.html"' in headers["Content-Disposition"]
    # Whatever the field's name, the first part with a file name is the input; its name may be any Unicode.
    body, content_type = form("Lettre d’été", data, field="document")
    status, headers, converted = s.request("POST", "/convert?to=text", body, {"Content-Type": content_type})
    assert status == 200 and headers["Content-Type"] == "text/plain; charset=utf-8"
    assert "filename*=UTF-8''Lettre%20d%E2%80%99%C3%A9t%C3%A9.txt" in headers["Content-Disposition"]
    assert headers["Content-Disposition"].isascii()
    assert converted == run_command("-t", "text", "-", stdin=data).stdout
    for path in ("/health", "/version", "/formats", "/nowhere"):
        assert s.request("GET", path)[1]["X-Content-Type-Options"] == "nosniff"
    assert s.request("GET", "/version")[2].decode() == run_command("--version").stdout.decode().splitlines()[0] + "\n"


@pytest.mark.parametrize("container", ["corpus:containers/MacWrite 4.5.image", "seeds:container-stuffit-classic.sit",
                                       "seeds:container-zip"])
def test_a_container_gives_the_commands_tree_as_a_zip(service, seeds, tmp_path, container, request):
    where, name = container.split(":")
    path = (request.getfixturevalue("corpus") if where == "corpus" else seeds) / name
    s = service()
    for to in ("text", "docx"):
        out = tmp_path / f"out-{to}"
        expected = run_command("-t", to, "-o", f"{out}/", path.name, cwd=path.parent)
        status, headers, body = s.upload(f"/convert?to={to}", path.read_bytes(), name=path.name)
        assert status == 200 and headers["Content-Type"] == "application/zip"
        archive = zipfile.ZipFile(io.BytesIO(body))
        members = {i.filename: archive.read(i) for i in archive.infolist()}
        messages = members.pop("mwconv-messages.log", b"").decode().splitlines()
        assert members == command_files(out / path.name)
        printed = expected.stderr.decode().splitlines()
        assert all(line in printed for line in messages) and len(messages) >= len(printed) - 1


def test_identify_is_the_commands(service, seeds, corpus):
    s = service()
    for path in (seeds / "macwrite22", corpus / "macbinary" / "infinite-mac__MFS-HD__Sample_Memo_v3.bin",
                 corpus / "negative" / "infinite-mac__MFS-HD__MacDraw_Manual_Example",
                 corpus / "containers" / "MacWrite 4.5.image"):
        status, headers, body = s.upload("/identify", path.read_bytes(), name=path.name)
        expected = run_command("--identify", "--json", path.name, cwd=path.parent)
        assert status == 200 and body == expected.stdout, path.name
    status, _, body = s.upload("/identify", (seeds / "macwrite22").read_bytes())
    assert json.loads(body)["file"] == "-"


def zip_bomb(document):
    """A zip inside a zip whose member, a MacWrite document, says it
    inflates to almost 4 GiB: far more than a kilobyte-sized archive may give."""
    def zipped(name, data, method):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            z.writestr(name, data)
        return buffer.getvalue()
    inner = bytearray(zipped("Letter", document, zipfile.ZIP_STORED))
    claimed = (0xFFFFFF00).to_bytes(4, "little")
    local, central = inner.find(b"PK\x03\x04"), inner.find(b"PK\x01\x02")
    inner[local + 22:local + 26] = claimed
    inner[central + 24:central + 28] = claimed
    return zipped("inner.zip", bytes(inner), zipfile.ZIP_DEFLATED)


def raw_request(port, head, body_part, read_some=False):
    """Sends a request's head and part of its body, maybe reads a little of
    the answer, and goes away."""
    with socket.create_connection(("127.0.0.1", port)) as sock:
        sock.sendall(head + body_part)
        if read_some:
            sock.settimeout(10)
            sock.recv(1000)


def test_bad_requests_get_their_status_and_leave_nothing(service, seeds, corpus):
    s = service("-j", "2", "--max-upload", "4M")
    document = (seeds / "macwrite5-example").read_bytes()
    image = (corpus / "containers" / "MacWrite 4.5.image").read_bytes()
    assert s.upload("/convert?to=html", document, name="first")[0] == 200
    before = s.counts()
    bomb = zip_bomb(document)
    truncated, content_type = form("x", document)
    cases = [
        (s.upload("/convert", b""), 400),
        (s.upload("/convert", b"", name="empty"), 400),
        (s.upload("/convert", (corpus / "negative" / "Classic-Mac-C-Compendium__RTrace_1.0_Manual_Word5").read_bytes(), name="w"), 422),
        (s.request("POST", "/convert", truncated[:-40], {"Content-Type": content_type}), 400),
        (s.upload("/convert", bytes(5 << 20)), 413),
        (s.upload("/convert", iter([bytes(1 << 20)] * 5), headers={"Transfer-Encoding": "chunked"}), 413),
        (s.upload("/convert?to=pdf", document), 400),
        (s.upload("/convert?to=text&macbinary", document), 400),
        (s.upload("/convert?to=html&fragment=no", document), 400),
        (s.upload("/convert", bomb, name="bomb.zip"), 422),  # its member refused, nothing else to convert
        (s.request("GET", "/etc/passwd"), 404),
    ]
    assert b"claims 4294967040 bytes, more than an archive" in cases[-2][0][2]
    for i, ((status, headers, body), expected) in enumerate(cases):
        assert status == expected, (i, body)
        assert json.loads(body)["status"] == expected and headers["Content-Type"] == "application/problem+json"
    # Clients that go away mid-upload and mid-download.
    raw_request(s.port, b"POST /convert HTTP/1.1\r\nHost: x\r\nContent-Length: 400000\r\n\r\n", image[:100000])
    body, content_type = form("MacWrite 4.5.image", image)
    raw_request(s.port, f"POST /convert?to=html HTTP/1.1\r\nHost: x\r\nContent-Type: {content_type}\r\n"
                f"Content-Length: {len(body)}\r\n\r\n".encode(), body, read_some=True)
    # The first answer's connection may still be open in `before`.
    settled = lambda: s.counts()[0] <= before[0] and s.counts()[1] == before[1] and not s.scratch_left()
    assert settle(settled), (before, s.counts(), s.scratch_left())
    assert s.upload("/convert?to=html", document, name="last")[0] == 200


def scratch_held(s):
    """The sizes of the files in the service's scratch folder that it holds open."""
    folder = str(Path(os.environ.get("MWCONV_SERVE_TMPDIR", s.scratch)).resolve()) + "/"
    sizes = []
    for fd in Path(f"/proc/{s.process.pid}/fd").iterdir():
        try:
            if os.readlink(fd).startswith(folder):
                sizes.append(os.stat(fd).st_size)
        except OSError:
            pass  # closed meanwhile
    return sizes


def test_scratch_files_kept_between_a_connections_requests_hold_nothing(service, seeds, corpus):
    """A thread keeps its scratch files from one request on its connection to
    the next: once each answer is out they are empty, and they close with the
    connection."""
    s = service("-j", "2")
    connection = s.connect()
    requests = [("macwrite2-disk", (seeds / "macwrite2-disk").read_bytes(), "html"),
                ("macwrite5-example", (seeds / "macwrite5-example").read_bytes(), "docx"),
                ("MacWrite 4.5.image", (corpus / "containers" / "MacWrite 4.5.image").read_bytes(), "rtf")]
    for name, data, to in requests:
        body, content_type = form(name, data)
        connection.request("POST", f"/convert?to={to}", body, {"Content-Type": content_type})
        response = connection.getresponse()
        assert response.status == 200 and response.read()
        # The answer has arrived; the request ends as its last bytes leave.
        assert settle(lambda: scratch_held(s) and not any(scratch_held(s))), scratch_held(s)
    connection.close()
    assert settle(lambda: not scratch_held(s) and not s.scratch_left()), (scratch_held(s), s.scratch_left())


def test_a_full_queue_is_answered_503(service, seeds):
    s = service("-j", "1", "--queue", "0")
    document = (seeds / "macwrite5-example").read_bytes()
    with socket.create_connection(("127.0.0.1", s.port)) as held:
        # An upload that has begun holds the one place.
        held.sendall(b"POST /convert HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n" + bytes(1000))
        time.sleep(0.3)
        status, headers, _ = s.upload("/convert", document)
        assert status == 503 and headers["Retry-After"] == "1"
    assert settle(lambda: s.upload("/convert", document)[0] == 200)


def test_a_slow_request_is_timed_out(service):
    s = service("--timeout", "1")
    with socket.create_connection(("127.0.0.1", s.port)) as sock:
        sock.sendall(b"POST /convert HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n")
        started = time.monotonic()
        sock.settimeout(10)
        for _ in range(20):  # a trickle, never the whole body
            try:
                sock.sendall(b"x")
            except OSError:
                break
            time.sleep(0.2)
        answer = sock.recv(100)
        assert answer == b"" or answer.startswith(b"HTTP/1.1 408")
        assert time.monotonic() - started < 6


def test_sigterm_lets_a_running_request_finish(service, corpus):
    s = service()
    image = (corpus / "containers" / "MacWrite 4.5.image").read_bytes()
    body, content_type = form("disk", image)
    idle = s.connect()
    idle.request("GET", "/health")
    assert idle.getresponse().read() == b"ok\n"  # an idle keep-alive connection does not hold the stop up
    running = s.connect()
    running.putrequest("POST", "/convert?to=odt")
    running.putheader("Content-Type", content_type)
    running.putheader("Content-Length", str(len(body)))
    running.endheaders()
    running.send(body[:1000])
    time.sleep(0.2)
    s.process.send_signal(signal.SIGTERM)
    time.sleep(0.2)
    running.send(body[1000:])
    response = running.getresponse()
    assert response.status == 200 and zipfile.ZipFile(io.BytesIO(response.read())).testzip() is None
    started = time.monotonic()
    assert s.stop() == 0
    assert time.monotonic() - started < 10
    assert not s.scratch_left()
    idle.close()
    running.close()


def test_one_member_of_a_container_is_the_commands_output(service, corpus, tmp_path):
    s = service()
    image = corpus / "containers" / "MacWrite 4.5.image"
    run_command("-t", "html", "-o", f"{tmp_path}/", image.name, cwd=image.parent)
    members = [json.loads(line)["member"] for line in s.upload("/identify", image.read_bytes(), name=image.name)[2].splitlines()
               if json.loads(line)["macwrite"]]
    assert members
    for member in members:
        status, headers, body = s.upload(f"/convert?to=html&member={quote(member)}", image.read_bytes(), name=image.name)
        assert status == 200 and body == (tmp_path / image.name / f"{member}.html").read_bytes()
        assert f"UTF-8''{quote(Path(member).name)}.html" in headers["Content-Disposition"]
    status, _, body = s.upload("/convert?member=Nowhere", image.read_bytes(), name=image.name)
    assert status == 404 and json.loads(body)["detail"] == f"mwconv: {image.name}: no member Nowhere"
