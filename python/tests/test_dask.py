"""mwconv.dask on a local cluster of two worker processes: the same files as
`mwconv -o`, a damaged document reported among the others."""

import os
import shutil
import subprocess

import pytest

# CI installs Dask and sets MWCONV_REQUIRE_TOOLS: there a missing Dask fails.
if os.environ.get("MWCONV_REQUIRE_TOOLS"):
    import dask.distributed as distributed
else:
    distributed = pytest.importorskip("dask.distributed")

import mwconv.dask  # noqa: E402
from conftest import BUILD, CORPUS_FOLDERS, cut_document, run_command  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def tree_files(root):
    return {p.relative_to(root): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def summary_line(done):
    return done.stderr.decode().rstrip("\n").split("\n")[-1]


def same_as_command(client, inputs, tmp_path, to):
    ours, theirs = tmp_path / "dask", tmp_path / "command"
    summary = mwconv.dask.convert_tree(inputs, ours, to=to, client=client)
    done = run_command("-t", to, "-o", str(theirs) + "/", *inputs)
    assert tree_files(ours) == tree_files(theirs)
    assert str(summary) == summary_line(done)
    # Split at line ends alone: a member may be named "Icon\r".
    said = done.stderr.decode().rstrip("\n").split("\n")[:-1]
    assert sorted(r.message for r in summary.results if r.message) == sorted(said)
    assert summary.status == done.returncode
    return summary, done


def test_the_corpus_converts_as_with_the_command(client, corpus, tmp_path):
    for to in ("html", "text"):
        same_as_command(client, [corpus], tmp_path / to, to)
    named = [corpus / folder / name for folder in CORPUS_FOLDERS for name in sorted(os.listdir(corpus / folder))]
    same_as_command(client, named + sorted((corpus / "containers").iterdir()), tmp_path / "named", "docx")


def test_a_thousand_documents_with_damaged_ones(client, tmp_path):
    built = tmp_path / "built"
    (built / "damaged").mkdir(parents=True)
    subprocess.run([str(BUILD / "make_seeds"), built, built, built / "damaged"], check=True)
    # The builders' documents, and the same in every container format.
    documents = sorted(p for p in built.iterdir() if p.is_file() and not p.name.startswith("picture-"))
    tree = tmp_path / "tree"
    for i in range(1000):
        folder = tree / f"shelf-{i // 100:02}" / f"box-{i // 10 % 10}"
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy(documents[i % len(documents)], folder / f"doc-{i:04}")
    shutil.copy(built / "damaged" / "damaged-macwrite5", tree / "shelf-05" / "damaged")
    (tree / "shelf-07" / "notes.txt").write_text("not a document\n")
    cut_document(tree / "shelf-08")

    summary, done = same_as_command(client, [tree], tmp_path, "html")
    assert len(summary.converted) >= 1000 and summary.containers > 0
    assert (len(summary.damaged), len(summary.skipped), len(summary.failed)) == (1, 1, 1)
    assert summary.damaged[0].status == 4 and summary.status == 3
    failure = summary.failed[0]
    assert failure.input == str(tree / "shelf-05" / "damaged")
    assert failure.message in done.stderr.decode().split("\n")
    assert "damaged or crafted" in failure.message


def test_outputs_beside_the_inputs(client, built_documents, tmp_path):
    copy = tmp_path / "in"
    copy.mkdir()
    for path in built_documents:
        shutil.copy(path, copy / path.name)
    summary = mwconv.dask.convert_tree([copy], to="rtf", client=client)
    assert len(summary.converted) == len(built_documents)
    for path in built_documents:
        assert (copy / (path.name + ".rtf")).read_bytes() == run_command("-t", "rtf", path).stdout
    again = mwconv.dask.convert_tree([copy / built_documents[0].name], to="rtf", client=client)
    assert "exists already" in again.failed[0].message
