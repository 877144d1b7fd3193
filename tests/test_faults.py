"""Faults injected into the commands' reads: special and oversized files, named and found in a
folder.

Each test runs under a time limit (pytest-timeout): a read that never returns fails its test
with a message instead of hanging the run."""

import os
import socket

import pytest
from conftest import write

from tallix_cst import files, load

pytestmark = pytest.mark.timeout(120)


# (the file, made in the folder; the one line when it is named)
def fifo(path):
    os.mkfifo(path)


def unix_socket(path):
    with socket.socket(socket.AF_UNIX) as s:
        s.bind(str(path))


def zeros(path):
    path.symlink_to("/dev/zero")


def oversized(path):
    with open(path, "wb") as f:
        f.truncate(files.MAX_SIZE + 1)  # sparse: nothing is read


SPECIAL = [(fifo, "a FIFO, not a regular file"), (unix_socket, "a socket, not a regular file"),
           (zeros, "a character device, not a regular file"),
           (oversized, "64.0 MiB, larger than the limit of 64 MiB (--max-file-size raises it)")]
READERS = [["check"], ["get", "a"], ["json"], ["fmt", "--check"], ["set", "a", "2", "-i"], ["apply", "script.py", "--check"]]


@pytest.mark.parametrize("args", READERS, ids=lambda args: args[0])
@pytest.mark.parametrize("make,why", SPECIAL, ids=lambda x: getattr(x, "__name__", ""))
def test_special_and_oversized_files_are_refused_or_passed_over(quarel, tmp_path, args, make, why):
    write(tmp_path / "script.py", "def edit(doc, path):\n    pass\n")
    write(tmp_path / "d" / "ok.quarel", "a: 1\n")
    make(tmp_path / "d" / "x.quarel")
    status, out, err = quarel(*args, "d/x.quarel")
    assert (status, out) == (2, "") and err.splitlines()[0] == f"d/x.quarel: error: {why}"
    status, out, err = quarel(*args, "d")
    if make is oversized:  # a file of the project too large to read is said, not passed over
        assert status == 2 and f"d/x.quarel: error: {why}" in err.splitlines()
    else:
        assert status == 0 and "x.quarel" not in out + err
    with pytest.raises(OSError, match=why.split(" (")[0]):
        load(tmp_path / "d" / "x.quarel")


def test_the_size_cap_can_be_raised_and_holds_for_files_that_grow(quarel, tmp_path):
    write(tmp_path / "f.quarel", "a: 1\n" * 400)  # 2,000 bytes
    too_large = "f.quarel: error: 2.0 KiB, larger than the limit of 1 KiB (--max-file-size raises it)\n"
    assert quarel("check", "f.quarel", "--max-file-size", "1K") == (2, "", too_large)
    assert quarel("set", "a", "2", "f.quarel", "--max-file-size", "2K", "-i")[0] == 0
    with open("/proc/self/status", "rb") as f:  # tells no size, and is read to its end
        with pytest.raises(OSError, match=r"] larger than the limit of 16 bytes: "):
            files.read_capped(f.read, 16, "status")
    assert load(tmp_path / "f.quarel", max_size=None)["a"] == "2"


def test_the_workspace_index_passes_over_what_it_may_not_read(tmp_path):
    from tallix_cst.lsp.workspace import Workspace

    write(tmp_path / "ok.quarel", "view: v {}\n")
    for make, _ in SPECIAL:
        make(tmp_path / f"{make.__name__}.quarel")
    workspace = Workspace()
    workspace._index_all([str(tmp_path)])
    for make, _ in SPECIAL:  # as when the editor names it in a change of watched files
        workspace.update(str(tmp_path / f"{make.__name__}.quarel"))
    assert [symbol.location.uri.rsplit("/", 1)[1] for symbol in workspace.symbols("")] == ["ok.quarel"]
