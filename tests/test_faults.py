"""Faults injected into the commands' reads and writes: paths swapped and files changed under a
writer, writers killed or hung up on mid-write, full disks, ACLs and extended attributes,
special and oversized files, leftovers of other programs, and edit scripts that misbehave.

Each test runs under a time limit (pytest-timeout): a read or a lock that never returns fails
its test with a message instead of hanging the run."""

import errno
import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest
from conftest import run_quarel, write

from tallix_cst import dump, edits, files, load, loads
from tallix_cst.failures import label

pytestmark = pytest.mark.timeout(120)
MARK, REWRITING = "user.tallix_cst", "user.tallix_cst.recovery"


def attributes_here(folder):
    """Whether the file system keeps user extended attributes."""
    probe = write(folder / ".probe", "")
    try:
        os.setxattr(probe, "user.probe", b"1")
        return True
    except OSError:
        return False
    finally:
        probe.unlink()


def names(folder):
    return sorted(p.name for p in folder.iterdir())


# What happens to f.quarel between its read and its write.
def to_symlink(path):
    os.rename(path, path.with_name("moved"))
    path.symlink_to("victim.txt")


def saved_over(path):  # an editor's save: a new file renamed over the name
    write(path.with_name("saved"), "saved: by an editor\n")
    os.replace(path.with_name("saved"), path)


def appended(path):
    with open(path, "ab") as f:
        f.write(b"appended: 1\n")


def same_size(path):  # same size, same modification time: only the bytes tell
    status = path.stat()
    path.write_bytes(path.read_bytes().replace(b"1", b"7"))
    os.utime(path, ns=(status.st_atime_ns, status.st_mtime_ns))


def moved_away(path):
    os.rename(path, path.with_name("moved"))


# (the change, when it is made, the one line, the file at the path then)
SWAPS = [
    (to_symlink, "read", "became a symbolic link since it was read", b"secret\n"),
    (saved_over, "read", "replaced by another file since it was read", b"saved: by an editor\n"),
    (appended, "read", "changed since it was read", b"a:  1\nappended: 1\n"),
    (appended, "sync", "changed since it was read", b"a:  1\nappended: 1\n"),  # while the new file is synced
    (same_size, "read", "changed since it was read", b"a:  7\n"),
    (moved_away, "read", "removed or renamed since it was read", None),
]
COMMANDS = {"set": ["set", "a", "2", "f.quarel", "-i"], "fmt": ["fmt", "f.quarel"],
            "apply": ["apply", "script.py", "f.quarel", "-i", "-j", "1"]}
SUMMARY = {"set": "", "fmt": "0 reformatted, 0 unchanged, 1 failed\n", "apply": "0 changed, 0 unchanged, 1 failed\n"}


@pytest.mark.parametrize("links", [1, 2])
@pytest.mark.parametrize("command", COMMANDS)
@pytest.mark.parametrize("swap,when,why,expected", SWAPS)
def test_a_file_swapped_or_changed_under_its_writer_is_not_written(quarel, tmp_path, monkeypatch, links, command, swap, when, why, expected):
    path = write(tmp_path / "f.quarel", "a:  1\n")
    victim = write(tmp_path / "victim.txt", "secret\n")
    write(tmp_path / "script.py", "def edit(doc, path):\n    doc['a'] = '2'\n")
    if links == 2:
        os.link(path, tmp_path / "link")
    done = []

    def once(real):
        def run(*args):
            if not done:
                done.append(swap(path))
            return real(*args)
        return run

    if when == "read":  # the apply script's worker forks with the patch in place
        monkeypatch.setattr(edits, "parsed", once(edits.parsed))
    else:
        monkeypatch.setattr(os, "fsync", once(os.fsync))
    status, out, err = quarel(*COMMANDS[command])
    assert (status, out, err) == (1, "", f"f.quarel: error: {why}\n{SUMMARY[command]}")
    assert (path.read_bytes() if path.exists() else None) == expected
    assert victim.read_text() == "secret\n"
    if (tmp_path / "moved").exists():
        assert (tmp_path / "moved").read_bytes() == b"a:  1\n"
    if links == 2:  # the old file's other name
        assert (tmp_path / "link").read_bytes() == (expected if swap in (appended, same_size) else b"a:  1\n")
    assert not [name for name in names(tmp_path) if name.startswith(".")]


# A writer of the file that gives itself the signal at each call of one os function, where the
# file system keeps extended attributes or (no-attributes) none.
WRITER = """
import errno, os, signal, sys
import tallix_cst
path, step, signum, attributes = sys.argv[1:]
if attributes == "no-attributes":
    def unsupported(*args, **kwargs):
        raise OSError(errno.ENOTSUP, os.strerror(errno.ENOTSUP))
    os.setxattr = os.getxattr = unsupported
real = getattr(os, step)
def stop(*args, **kwargs):
    os.kill(os.getpid(), int(signum))
    return real(*args, **kwargs)
setattr(os, step, stop)
tallix_cst.loads("a: 12\\n").dump(path)
"""


def stopped_writer(path, step, signum=signal.SIGKILL, attributes="attributes"):
    result = subprocess.run([sys.executable, "-c", WRITER, str(path), step, str(int(signum)), attributes],
                            capture_output=True, timeout=60)
    assert result.returncode == -signum, result.stderr


# A writer stopped at a step of its write. A signal while the new file is written leaves the old
# file, one while the file is rewritten through its inode waits for the rewrite, and either way
# nothing is left beside it. SIGKILL leaves what it leaves: the next writer cleans up after it,
# or refuses a file the kill may have left half-written.
# (links, step: the file after a signal that unwinds; after SIGKILL, what is left beside it, and
# the file after the next writer)
STEPS = [
    (1, "fsync", "a: 1\nb: 2\n", "a: 1\nb: 2\n", "tmp", "a: 3\nb: 2\n"),  # written, not synced
    (2, "fsync", "a: 1\nb: 2\n", "a: 1\nb: 2\n", "tmp", "a: 3\nb: 2\n"),
    (2, "ftruncate", "a: 12\n", "a: 12\n: 2\n", "recovery", None),  # the new text on the old's tail
    (2, "unlink", "a: 12\n", "a: 12\n", "recovery", "a: 3\n"),  # only the recovery copy is left
]


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL])
@pytest.mark.parametrize("links,step,unwound,killed,kind,after", STEPS)
def test_a_stopped_writer_and_the_next_run(quarel, tmp_path, signum, links, step, unwound, killed, kind, after):
    path = write(tmp_path / "f.quarel", "a: 1\nb: 2\n")
    if links == 2:
        os.link(path, tmp_path / "link.quarel")
    stopped_writer(path, step, signum)
    left = [p for p in tmp_path.iterdir() if p.name.startswith(".")]
    if signum != signal.SIGKILL:
        assert (path.read_text(), left) == (unwound, [])
        return
    [copy] = left
    assert re.fullmatch(r"\.f\.quarel\.[0-9a-f]{16}\." + kind, copy.name) and path.read_text() == killed
    status = quarel("set", "a", "3", "f.quarel", "-i")[0]
    assert (status, path.read_text(), copy.exists()) == ((0, after, False) if after else (2, killed, True))


# A writer killed while it rewrites a hard-linked file; the file is then edited and read
# through its other link (or, where the file system keeps no attributes, its own name).
@pytest.mark.parametrize("name", ["f.quarel", "new\nline.quarel"])
@pytest.mark.parametrize("other,attributes", [("d2/g.quarel", "attributes"), ("d1/g.quarel", "attributes"),
                                              (None, "attributes"), (None, "no-attributes")])
def test_a_half_written_file_is_known_through_any_of_its_links(quarel, tmp_path, monkeypatch, name, other, attributes):
    if attributes == "attributes" and not attributes_here(tmp_path):
        pytest.skip("the file system keeps no extended attributes")
    path = write(tmp_path / "d1" / name, "a: 1\nb: 2\n")
    other = tmp_path / (other or f"d1/{name}")
    other.parent.mkdir(exist_ok=True)
    os.link(path, other if other != path else tmp_path / "spare")  # rewritten through its inode
    stopped_writer(path, "ftruncate", attributes=attributes)
    [copy] = [p for p in path.parent.iterdir() if p.name.endswith(".recovery")]
    if attributes == "no-attributes":
        def unsupported(*args, **kwargs):
            raise OSError(errno.ENOTSUP, os.strerror(errno.ENOTSUP))
        for function in ("setxattr", "getxattr", "removexattr", "listxattr"):
            monkeypatch.setattr(os, function, unsupported)
    message = (f"{label(str(other))}: error: an earlier write was cut short and may have left the file half-written; "
               f"its new content is in {label(str(copy))} (copy that over the file, or delete it)\n")
    assert quarel("set", "a", "3", other, "-i") == (2, "", message)
    assert quarel("check", other) == (2, "", message + "no problems in 0 files, 1 failed\n")
    assert (other.read_text(), copy.read_text()) == ("a: 12\n: 2\n", "a: 12\n")
    shutil.copyfile(copy, other)  # as the message says; the links stay
    assert quarel("set", "a", "3", other, "-i") == (0, "", "")
    assert path.read_text() == other.read_text() == "a: 3\n"
    assert not copy.exists() and not [n for d in {path.parent, other.parent} for n in names(d) if n.startswith(".")]
    if attributes == "attributes":
        assert REWRITING not in os.listxattr(other)


def acl(path):
    return subprocess.run(["getfacl", "-cp", str(path)], capture_output=True, text=True, check=True).stdout


# An ACL and an attribute that a new file gets or, where it may not (`refused`), kept by
# rewriting the file through its inode; a folder's default ACL never reaches the file.
@pytest.mark.parametrize("with_acl", [True, False])
@pytest.mark.parametrize("links,refused", [(1, None), (2, None), (1, "user.origin"), (1, "system.posix_acl_access")])
def test_acls_and_extended_attributes_are_kept(quarel, tmp_path, monkeypatch, with_acl, links, refused):
    if not shutil.which("setfacl") or not attributes_here(tmp_path):
        pytest.skip("needs setfacl, and a file system with ACLs and extended attributes")
    path = write(tmp_path / "f.quarel", "a: 1\n")
    path.chmod(0o640)
    if subprocess.run(["setfacl", "-d", "-m", "u:nobody:rwx", str(tmp_path)], capture_output=True).returncode:
        pytest.skip("the file system keeps no ACLs")
    subprocess.run(["setfacl", "-b" if not with_acl else "-m", *([] if not with_acl else ["u:nobody:rw"]), str(path)], check=True)
    os.setxattr(path, "user.origin", b"x")
    if links == 2:
        os.link(path, tmp_path / "link")
    before, inode = (acl(path), os.listxattr(path), path.stat().st_mode), path.stat().st_ino
    setxattr = os.setxattr

    def refusing(target, name, *args, **kwargs):
        if name == refused:
            raise PermissionError(errno.EPERM, "not permitted")
        return setxattr(target, name, *args, **kwargs)

    monkeypatch.setattr(os, "setxattr", refusing)
    assert quarel("set", "a", "2", "f.quarel", "-i") == (0, "", "")
    assert (path.read_text(), os.getxattr(path, "user.origin")) == ("a: 2\n", b"x")
    assert (acl(path), sorted(os.listxattr(path)), path.stat().st_mode) == (before[0], sorted(before[1]), before[2])
    assert ("mask::" in acl(path)) == with_acl and "group::r--" in acl(path)  # never widened by the mask
    assert (path.stat().st_ino == inode) == (links == 2 or (refused is not None and (with_acl or refused == "user.origin")))


GROWN_FULL = """
import os, resource, signal, sys
import tallix_cst
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
if sys.argv[2] == "tail first":
    del os.posix_fallocate
rename = os.rename
def full_after(source, target, **kwargs):  # the new file is written: now the disk is full
    rename(source, target, **kwargs)
    if target.endswith(".recovery"):
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
os.rename = full_after
tallix_cst.loads("a: " + "x" * 9000 + "\\n").dump(sys.argv[1])
"""


# A hard-linked file that grows on a full disk fails before any old byte is overwritten.
@pytest.mark.parametrize("reserve", ["fallocate", "tail first"])
def test_a_full_disk_never_cuts_a_rewritten_file(tmp_path, reserve):
    old = "".join(f"k{i}: {i}\n" for i in range(400))  # 3.5 KiB
    path = write(tmp_path / "f.quarel", old)
    os.link(path, tmp_path / "link.quarel")
    result = subprocess.run([sys.executable, "-c", GROWN_FULL, str(path), reserve], capture_output=True, timeout=60)
    assert result.returncode == 1 and b"OSError: [Errno 27] File too large; the file is as it was" in result.stderr
    assert path.read_text() == old and names(tmp_path) == ["f.quarel", "link.quarel"]
    if attributes_here(tmp_path):
        assert REWRITING not in os.listxattr(path)


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
    if make is not oversized:
        with pytest.raises(OSError, match=why):
            loads("a: 2\n").dump(tmp_path / "d" / "x.quarel")
    assert names(tmp_path / "d") == ["ok.quarel", "x.quarel"]


def test_the_size_cap_can_be_raised_and_holds_for_files_that_grow(quarel, tmp_path):
    write(tmp_path / "f.quarel", "a: 1\n" * 400)  # 2,000 bytes
    too_large = "f.quarel: error: 2.0 KiB, larger than the limit of 1 KiB (--max-file-size raises it)\n"
    assert quarel("check", "f.quarel", "--max-file-size", "1K") == (2, "", too_large + "no problems in 0 files, 1 failed\n")
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
    workspace.start([str(tmp_path)])
    for make, _ in SPECIAL:  # as when the editor names it in a change of watched files
        workspace.changed(str(tmp_path / f"{make.__name__}.quarel"))
    write(tmp_path / "last.quarel", "view: last {}\n")
    workspace.changed(str(tmp_path / "last.quarel"))  # read after all the others
    for _ in range(500):
        if workspace.symbols("last"):
            break
        time.sleep(0.01)
    workspace.stop()
    assert sorted(symbol.location.uri.rsplit("/", 1)[1] for symbol in workspace.symbols("")) == ["last.quarel", "ok.quarel"]


# Files beside f.quarel: only a writer removes, and only what a writer that is gone marked.
@pytest.mark.parametrize("name", [".f.quarel.0123456789abcdef.tmp", ".new\nline.quarel.0123456789abcdef.tmp",
                                  "." + "n" * 200 + ".0123456789abcdef.tmp"])
@pytest.mark.parametrize("marked,locked,command,removed", [
    (True, False, ["check"], False), (True, False, ["set", "a", "2", "-i"], True), (False, False, ["set", "a", "2", "-i"], False),
    (True, True, ["set", "a", "2", "-i"], False)])
def test_only_a_writer_removes_and_only_its_own_leftovers(quarel, tmp_path, name, marked, locked, command, removed):
    if marked and not attributes_here(tmp_path):
        pytest.skip("the file system keeps no extended attributes")
    write(tmp_path / "f.quarel", "a: 1\n")
    left = write(tmp_path / name, "a: 9\n")
    if marked:
        os.setxattr(left, MARK, b"")
    fd = os.open(left, os.O_RDONLY)
    try:
        if locked:
            import fcntl
            fcntl.flock(fd, fcntl.LOCK_EX)
        assert quarel(*command, "f.quarel")[0] == 0
    finally:
        os.close(fd)
    assert left.exists() != removed


# A file may name any file as its recovery copy: only a copy marked as made for it counts.
@pytest.mark.parametrize("mark,counts", [(None, False), (b"1:2", False), ("its own", True)])
def test_a_recovery_copy_counts_only_when_made_for_the_file(quarel, tmp_path, mark, counts):
    if not attributes_here(tmp_path):
        pytest.skip("the file system keeps no extended attributes")
    path, other = write(tmp_path / "f.quarel", "a: 1\n"), write(tmp_path / "other.txt", "not a copy\n")
    os.setxattr(path, REWRITING, os.fsencode(str(other)))
    if mark is not None:
        status = path.stat()
        os.setxattr(other, MARK, b"%d:%d" % (status.st_dev, status.st_ino) if mark == "its own" else mark)
    assert quarel("set", "a", "2", "f.quarel", "-i")[0] == (2 if counts else 0)
    assert other.read_text() == "not a copy\n" and path.read_text() == ("a: 1\n" if counts else "a: 2\n")


def test_long_names_and_bind_mounts(quarel, tmp_path):
    long = write(tmp_path / ("n" * 248 + ".quarel"), "a: 1\n")  # 255 bytes
    os.link(long, tmp_path / "link.quarel")  # rewritten in place: its recovery copy's name fits too
    assert quarel("set", "a", "2", long.name, "-i") == (0, "", "")
    assert long.read_text() == "a: 2\n" and names(tmp_path) == sorted([long.name, "link.quarel"])
    host, mounted = write(tmp_path / "host.quarel", "a: 1\n"), write(tmp_path / "mounted.quarel", "")
    if os.geteuid() != 0 or subprocess.run(["mount", "--bind", str(host), str(mounted)], capture_output=True).returncode:
        pytest.skip("cannot bind-mount a file here")
    try:
        assert quarel("set", "a", "2", "mounted.quarel", "-i") == (0, "", "")
        assert host.read_text() == mounted.read_text() == "a: 2\n"
    finally:
        subprocess.run(["umount", str(mounted)], check=True)
    assert not [name for name in names(tmp_path) if name.startswith(".")]


# --all-or-nothing: a file that fails at its write (changed since it was read, a full disk)
# leaves every file as it was; one that fails after files were replaced stops the rest.
@pytest.mark.parametrize("fault", ["changed", "full disk", "rename"])
def test_all_or_nothing_writes_all_or_none(quarel, tmp_path, monkeypatch, fault):
    paths = [write(tmp_path / "d" / f"f{i:02}.quarel", "a: 1\n") for i in range(40)]
    big = "x" * 70_000 if fault == "full disk" else "2"  # past the limit on file sizes below
    write(tmp_path / "script.py", "def edit(doc, path):\n"
          f"    doc['a'] = {big!r} if path.endswith('f17.quarel') else '2'\n"
          f"    if {fault == 'changed'} and path.endswith('f17.quarel'):\n        open(path, 'a').write('b: 1\\n')\n")
    args = ["apply", "script.py", "d", "-i", "--all-or-nothing", "-j", "2"]
    if fault == "full disk":
        result = run_quarel(*args, cwd=tmp_path, preexec_fn=no_file_beyond_64k)
        status, out, err = result.returncode, result.stdout.decode(), result.stderr.decode()
    else:
        rename = os.rename
        def failing(source, target, **kwargs):  # the third file's rename fails
            if target == "f02.quarel":
                raise OSError(errno.EIO, "Input/output error")
            return rename(source, target, **kwargs)
        if fault == "rename":
            monkeypatch.setattr(os, "rename", failing)
        status, out, err = quarel(*args)
    listed = [f"d/f{i:02}.quarel" for i in range(40) if i != 17 or fault == "rename"]
    why = {"changed": "changed since it was read", "full disk": "File too large", "rename": "Input/output error"}[fault]
    if fault != "rename":
        assert (status, out.splitlines()) == (1 if fault == "changed" else 2, listed)
        assert err.splitlines() == [f"d/f17.quarel: error: {why}", "39 would change, 0 unchanged, 1 failed"]
        assert [p.read_text() for p in paths] == ["a: 1\n"] * 17 + ["a: 1\n" + "b: 1\n" * (fault == "changed")] + ["a: 1\n"] * 22
    else:  # f00 and f01 are written, f02 fails, and the rest are not written
        rest = [f"d/f{i:02}.quarel: error: not written: the write of d/f02.quarel failed after 2 of 40 were written" for i in range(3, 40)]
        assert (status, out.splitlines(), err.splitlines()) == (
            2, listed[:2], [f"d/f02.quarel: error: {why}", *rest, "2 changed, 0 unchanged, 38 failed"])
        assert [p.read_text() for p in paths] == ["a: 2\n"] * 2 + ["a: 1\n"] * 38
    assert names(tmp_path / "d") == [p.name for p in paths]


def no_file_beyond_64k():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))


# Scripts that fork, leave threads, hang, or take too much memory: the file they were on
# fails, with one line, and the others are edited; there is never a traceback.
@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize("misbehaves,options,message", [
    ("os.fork()", [], None),
    ("threading.Thread(target=time.sleep, args=(600,)).start()", [], None),
    ("time.sleep(600)", ["--timeout", "1"], "error: the process editing it ended (stopped after 1 s on one file: the --timeout)"),
    ("x = bytearray(300 << 20)", ["--max-memory", "100M"], "error: the edit ran out of memory (--max-memory is 100 MiB)"),
    ("kept.append(bytearray(30 << 20))", ["--max-memory", "100M"], None),  # slow leaks: workers are replaced
])
def test_apply_scripts_that_misbehave(tmp_path, jobs, misbehaves, options, message):
    code = f"import os, threading, time\nkept = []\ndef edit(doc, path):\n    if 'bad' in path or {'kept' in misbehaves}:\n        {misbehaves}\n    doc['b'] = '2'\n"
    write(tmp_path / "script.py", code)
    paths = [write(tmp_path / "d" / f"{'bad' if i == 5 else 'f'}{i:02}.quarel", "a: 1\n") for i in range(12)]
    result = run_quarel("apply", "script.py", "d", "-i", "-j", jobs, *options, cwd=tmp_path)
    err = result.stderr.decode()
    assert "Traceback" not in err and result.returncode == (1 if message else 0), err
    failed = [paths[5]] if message else []
    assert [p.read_text() for p in paths] == ["a: 1\n" if p in failed else "a: 1\nb: 2\n" for p in paths]
    assert err.splitlines() == [f"d/bad05.quarel: {message}"] * bool(message) + [f"{12 - len(failed)} changed, 0 unchanged, {len(failed)} failed"]


# A lock left held by a failed edit would hang the next edit of the file in this process.
@pytest.mark.timeout(30)
@pytest.mark.parametrize("failure", ["value", "parse", "changed", "disk"])
def test_a_failed_edit_releases_its_lock(quarel, tmp_path, monkeypatch, failure):
    path = write(tmp_path / "f.quarel", "a: 1\n" if failure != "parse" else "a: [\n")
    args = {"value": ["set", "--kind", "literal", "a", "x y"], "parse": ["set", "a", "2"]}.get(failure, ["set", "a", "2"])
    def full(*args):
        raise OSError(errno.ENOSPC, "No space left on device")

    with monkeypatch.context() as patched:
        if failure == "changed":
            patched.setattr(edits, "parsed", lambda p, data: (appended(path), loads(data))[1])
        if failure == "disk":
            patched.setattr(os, "fsync", full)
        assert quarel(*args, "f.quarel", "-i")[0] != 0
    path.write_text("a: 1\n")
    assert quarel("set", "a", "3", "f.quarel", "-i") == (0, "", "")
    assert path.read_text() == "a: 3\n"


# --all-or-nothing holds every file open until the set is written: a soft limit on open files
# too low for them is raised.
def test_all_or_nothing_raises_a_low_limit_on_open_files(tmp_path):
    if resource.getrlimit(resource.RLIMIT_NOFILE)[1] < 1024:
        pytest.skip("a hard limit on open files too low for the test")
    paths = [write(tmp_path / "d" / f"f{i:03}.quarel", "a: 1\n") for i in range(100)]
    low = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (128, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    result = run_quarel("set", "a", "2", "d", "-i", "--all-or-nothing", cwd=tmp_path, preexec_fn=low)
    assert (result.returncode, result.stderr) == (0, b"")
    assert [p.read_text() for p in paths] == ["a: 2\n"] * 100
