"""What the module's tests share: the command to compare with, the corpus
beside the clone (tests that need it skip without it) and documents made by
the test builders (make_seeds)."""

import os
import subprocess
from pathlib import Path

import pytest

MWCONV = os.environ.get("MWCONV", "")
BUILD = Path(os.environ.get("MWCONV_BUILD", ""))
CORPUS = Path(os.environ.get("MWCONV_CORPUS", Path(__file__).resolve().parents[3] / "shared" / "corpus"))
# The corpus's documents, MacBinary files and files that are not MacWrite;
# its containers hold documents that the command reaches through them.
CORPUS_FOLDERS = ("macwrite5", "macwrite22", "macbinary", "negative")


def run_command(*args, stdin=None):
    return subprocess.run([MWCONV, *map(str, args)], input=stdin, capture_output=True, check=False)


def cut_document(folder):
    """The bundled example cut at three quarters: damaged, converted as far
    as it can be read (the command's status 4)."""
    whole = (Path(__file__).resolve().parents[2] / "examples" / "welcome.mw5").read_bytes()
    path = Path(folder) / "cut"
    path.write_bytes(whole[: len(whole) * 3 // 4])
    return path


@pytest.fixture(scope="session")
def corpus():
    if not CORPUS.is_dir():
        pytest.skip(f"no corpus at {CORPUS} (set MWCONV_CORPUS to run these tests)")
    return CORPUS


@pytest.fixture(scope="session")
def built_documents(tmp_path_factory):
    """The builders' documents of every generation (not their containers)."""
    folder = tmp_path_factory.mktemp("built")
    subprocess.run([str(BUILD / "make_seeds"), str(folder)], check=True)
    return sorted(p for p in folder.iterdir() if not p.name.startswith("container-"))


@pytest.fixture(scope="session")
def documents(built_documents):
    found = list(built_documents)
    if CORPUS.is_dir():
        for folder in CORPUS_FOLDERS:
            found += sorted(p for p in (CORPUS / folder).iterdir() if p.is_file())
    return found
