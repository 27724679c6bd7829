"""The module against the command: same bytes, same identification, same
failures with the same messages."""

import json
import warnings
from concurrent.futures import ThreadPoolExecutor

import pytest

import mwconv
from conftest import cut_document, run_command


def command_convert(path, to):
    """What `mwconv -t TO - < FILE` gives: the bytes, or the exit status and message."""
    done = run_command("-t", to, "-", stdin=path.read_bytes())
    return done.returncode, done.stdout, done.stderr.decode().rstrip("\n")


def module_convert(path, to):
    try:
        return 0, mwconv.convert(path.read_bytes(), to=to), ""
    except mwconv.NotMacWrite as e:
        assert e.status == 2
        return 2, b"", str(e)
    except mwconv.ConversionError as e:
        return e.status, b"", str(e)


# MacWrite 4.6/5 with MacBinary is left out: its header carries the time of
# the conversion.
@pytest.mark.parametrize("to", mwconv.FORMATS)
def test_every_document_converts_as_the_command_does(documents, to):
    assert documents
    for path in documents:
        assert module_convert(path, to) == command_convert(path, to), path


def test_options_reach_the_conversion(built_documents):
    path = next(p for p in built_documents if p.name == "macwrite5-example")
    data = path.read_bytes()
    fragment = mwconv.convert(data, to="html", fragment=True)
    assert fragment == run_command("-t", "html", "--fragment", "-", stdin=data).stdout
    assert b"<html" not in fragment
    named = mwconv.convert(data, to="html", name=str(path))
    assert named == run_command("-t", "html", path).stdout


def test_identify_gives_the_command_objects(documents):
    for path in documents:
        expected = json.loads(run_command("--identify", "--json", path).stdout)
        assert mwconv.identify(path) == expected
        assert mwconv.identify(path.read_bytes(), name=str(path)) == expected


def test_failures_raise_with_the_command_messages(tmp_path):
    with pytest.raises(mwconv.NotMacWrite) as e:
        mwconv.convert(b"plain words, no document")
    assert (e.value.status, str(e.value)) == (2, "mwconv: <stdin>: not a MacWrite document")

    bad = b"caf\xe9\n"
    done = run_command("-f", "text", "-t", "html", "-", stdin=bad)
    with pytest.raises(mwconv.ConversionError) as e:
        mwconv.convert(bad, source="text", to="html")
    assert (e.value.status, str(e.value)) == (done.returncode, done.stderr.decode().rstrip("\n")) == (
        3, "mwconv: <stdin>: not valid UTF-8 text (byte offset 3)")

    missing = tmp_path / "missing"
    done = run_command(missing, "-o", tmp_path / "out.html", "-t", "html")
    with pytest.raises(mwconv.ConversionError) as e:
        mwconv.convert_file(missing, to="html", output=tmp_path / "out.html")
    assert str(e.value) == done.stderr.decode().rstrip("\n")
    assert not (tmp_path / "out.html").exists()

    with pytest.raises(ValueError):
        mwconv.convert(b"", to="epub")


def test_a_damaged_document_converts_and_warns(tmp_path):
    cut = cut_document(tmp_path)
    done = run_command("-t", "html", "-", stdin=cut.read_bytes())
    assert done.returncode == 4
    with pytest.warns(mwconv.DamagedWarning) as caught:
        assert mwconv.convert(cut.read_bytes(), to="html") == done.stdout
    assert str(caught[0].message) == done.stderr.decode().rstrip("\n")
    with warnings.catch_warnings():
        warnings.simplefilter("error", mwconv.DamagedWarning)
        with pytest.raises(mwconv.DamagedWarning):
            mwconv.convert_file(cut, to="text", output=tmp_path / "cut.txt")
    assert (tmp_path / "cut.txt").exists()


def test_convert_file_writes_what_the_command_writes(built_documents, tmp_path):
    for path in built_documents:
        for to in ("docx", "odt", "macwrite5"):
            ours, theirs = tmp_path / "module", tmp_path / "command"
            mwconv.convert_file(path, to=to, output=ours)
            assert run_command("-t", to, "-o", theirs, path).returncode == 0
            assert ours.read_bytes() == theirs.read_bytes(), (path, to)
    default = mwconv.convert_file(built_documents[0], to="html")
    assert default == str(built_documents[0]) + ".html"
    if b"no pdf" not in run_command("--help").stdout:
        # A PDF keeps the time it was made when the document has no dates:
        # its pages, not its bytes, are the command's.
        pdf = mwconv.convert_file(built_documents[0], to="pdf")
        assert pdf == str(built_documents[0]) + ".pdf"
        assert open(pdf, "rb").read().startswith(b"%PDF-")


def test_members_are_those_identify_lists(tmp_path):
    from conftest import BUILD
    import subprocess
    subprocess.run([str(BUILD / "make_seeds"), tmp_path], check=True)
    for container in sorted(tmp_path.glob("container-*")):
        listed = [json.loads(line) for line in run_command("--identify", "--json", container).stdout.splitlines()]
        if "member" not in listed[0]:
            continue  # a MacBinary document: --identify describes the document itself
        ours = mwconv.members(container)
        assert [(m["path"], m["container"], m["size"]) for m in ours] == [
            (j["member"], j["container"], j["data_length"]) for j in listed], container
    assert mwconv.members(tmp_path / "macwrite22") == []


def test_four_threads_give_the_bytes_of_one(documents):
    work = [(path.read_bytes(), to) for path in documents for to in ("html", "rtf", "docx", "macwrite5")] * 3

    def one(item):
        try:
            return mwconv.convert(item[0], to=item[1])
        except mwconv.Error as e:
            return str(e)

    alone = [one(item) for item in work]
    with ThreadPoolExecutor(max_workers=4) as pool:
        assert list(pool.map(one, work)) == alone
