"""Documents from and to files: bytes in and out, byte-order marks, and writes that lose
nothing whatever the file is and whoever else edits it (faults injected: test_faults.py)."""

import io
import os
import subprocess
import sys

import pytest
from conftest import write
from hypothesis import given, settings
from hypothesis import strategies as st

from tallix_cst import parse_quarel, Document, QuarelSyntaxError, dump, load, loads

# Locks, worker processes and reads that could wait forever fail the test instead.
pytestmark = pytest.mark.timeout(300)
BOM = "\ufeff"


# A mark after the first is text.
@pytest.mark.parametrize("source,keys", [(BOM + "view: v {}\n", ["view"]), (BOM + "# header\r\nview: v {}", ["view"]),
                                         (BOM, []), (BOM + BOM + "k: 1", [BOM + "k"]), ("a: 1\n" + BOM + "b: 2", ["a", BOM + "b"])])
def test_byte_order_mark_prints_back_but_is_no_key(source, keys):
    data = source.encode()
    doc = loads(data)
    assert [pair.key for pair in doc] == keys
    assert doc.to_bytes() == data and doc.to_string() == source
    doc.add("z", "1", index=0)
    assert doc.to_bytes().startswith(data[: 3 * source.startswith(BOM)] + b"z: 1")
    assert [pair.key for pair in loads(doc.to_bytes())] == ["z", *keys]


def test_the_mark_counts_in_offsets_not_columns_and_is_a_character_only_in_text():
    with pytest.raises(QuarelSyntaxError) as info:
        loads((BOM + "x").encode())
    assert (info.value.line, info.value.column, info.value.offset) == (1, 2, 4)
    assert info.value.message == "expected `:` after key"
    # A file's contents read as text (open().read()) keep the mark apart too.
    doc = loads(BOM + "# c\nk: 1")
    assert [pair.key for pair in doc] == ["k"] and doc.to_string() == BOM + "# c\nk: 1"
    # Text given to the parse functions is text, where U+FEFF is a character like any other.
    assert [pair.key for pair in parse_quarel(BOM + "k: 1")] == [BOM + "k"]


# What the two parse functions take: source, the keys read, or the exception.
SOURCES = [
    ("k: 1", ["k"]), (BOM + "k: 1", [BOM + "k"]), (b"k: 1", ["k"]), ((BOM + "k: 1").encode(), ["k"]),
    (bytearray((BOM + "k: 1").encode()), ["k"]), (b"\xff", UnicodeDecodeError),
    (memoryview(b"k: 1"), TypeError), (None, TypeError), (1, TypeError),
]


@pytest.mark.parametrize("parse", [parse_quarel, Document.parse, lambda s: parse_quarel(source=s)])
@pytest.mark.parametrize("source, expected", SOURCES)
def test_both_parse_functions_take_text_and_bytes(parse, source, expected):
    if isinstance(expected, type):
        with pytest.raises(expected):
            parse(source)
    else:
        assert [pair.key for pair in parse(source)] == expected


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=12) | st.text(max_size=6).map(lambda t: t.encode("utf-8", "surrogatepass")))
def test_bytes_are_parsed_only_when_they_are_utf8(data):
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as expected:
        with pytest.raises(UnicodeDecodeError) as info:
            Document.parse(data)
        assert (info.value.start, info.value.end, info.value.reason) == (expected.start, expected.end, expected.reason)
        return
    try:
        doc = Document.parse(data)
    except QuarelSyntaxError as e:
        with pytest.raises(QuarelSyntaxError, match=e.message):
            loads(text)
    else:
        assert doc.to_bytes() == data


# The value's bytes after `a: `, and where the first invalid sequence starts among them
# (None: valid UTF-8), by the table of well-formed sequences of Unicode's chapter 3.
UTF8 = [
    (b"\x7f", None), (b"\xc2\x80", None), (b"\xdf\xbf", None), (b"\xe0\xa0\x80", None),
    (b"\xed\x9f\xbf", None), (b"\xee\x80\x80", None), (b"\xef\xbf\xbf", None),
    (b"\xf0\x90\x80\x80", None), (b"\xf4\x8f\xbf\xbf", None),
    # overlong forms
    (b"\xc0\x80", 0), (b"\xc1\xbf", 0), (b"\xe0\x80\x80", 0), (b"\xe0\x9f\xbf", 0), (b"\xf0\x80\x80\x80", 0),
    (b"\xf0\x8f\xbf\xbf", 0),
    # surrogates encoded
    (b"\xed\xa0\x80", 0), (b"\xed\xbf\xbf", 0), (b"x\xed\xb0\x80", 1),
    # past U+10FFFF
    (b"\xf4\x90\x80\x80", 0), (b"\xf5\x80\x80\x80", 0), (b"\xf7\xbf\xbf\xbf", 0), (b"\xf8\x88\x80\x80\x80", 0),
    # cut short, at the end and before other bytes
    (b"\xc2", 0), (b"\xe2\x82", 0), (b"\xf0\x9f\x98", 0), (b"\xe2\x82x", 0), (b"\xf0\x9f\x98 ", 0),
    (b"ok\xf0\x9f\x98\n", 2),
    # stray bytes
    (b"\x80", 0), (b"\xbf", 0), (b"\xfe", 0), (b"\xff", 0), (b"\xc2\x80\x80", 2),
]


@pytest.mark.parametrize("value, invalid_at", UTF8)
def test_strict_utf8(value, invalid_at):
    data = b"a: " + value
    for parse in (Document.parse, parse_quarel, loads):
        if invalid_at is None:
            assert parse(data).to_bytes() == data
            continue
        with pytest.raises(UnicodeDecodeError) as info:
            parse(data)
        assert info.value.start == 3 + invalid_at


def test_load_and_dump(tmp_path):
    path = write(tmp_path / "a.quarel", "a: 1\r\n")
    for source in (str(path), path, io.BytesIO(path.read_bytes())):
        assert load(source).to_bytes() == b"a: 1\r\n"
    out = io.BytesIO()
    dump(load(path), out)
    load(path).dump(tmp_path / "b.quarel")
    assert out.getvalue() == (tmp_path / "b.quarel").read_bytes() == b"a: 1\r\n"
    with pytest.raises(TypeError, match="binary"), open(path, encoding="utf-8") as text:
        load(text)
    with pytest.raises(TypeError, match="str or bytes"):
        loads(1)  # type: ignore[arg-type]
    path.write_bytes(b"a: \xff")
    with pytest.raises(UnicodeDecodeError, match="a.quarel"):
        load(path)
    with pytest.raises(OSError, match="a directory, not a regular file"):
        dump(loads("a: 1\n"), tmp_path)


# Only a file with other hard links keeps its inode; the others are replaced by a new file.
@pytest.mark.parametrize("link,same_inode", [("none", False), ("symbolic", False), ("hard", True)])
def test_links_mode_and_owner_survive(tmp_path, link, same_inode):
    real = write(tmp_path / "real.quarel", "a: 1\nlonger: text\n")
    real.chmod(0o640)
    if os.geteuid() == 0:
        os.chown(real, 65534, 65534)
    other = tmp_path / "other.quarel"
    if link == "symbolic":
        other.symlink_to(real.name)
    elif link == "hard":
        os.link(real, other)
    else:
        other = real
    inode = real.stat().st_ino
    loads("a: 2\n").dump(other)
    assert real.read_bytes() == other.read_bytes() == b"a: 2\n"  # shorter: the rest is cut off
    assert other.is_symlink() == (link == "symbolic")
    status = real.stat()
    assert (status.st_ino == inode, status.st_mode & 0o777, status.st_nlink) == (same_inode, 0o640, 1 + (link == "hard"))
    if os.geteuid() == 0:
        assert (status.st_uid, status.st_gid) == (65534, 65534)
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted({"real.quarel", other.name})


def test_concurrent_in_place_edits_keep_every_change(tmp_path):
    path = write(tmp_path / "f.quarel", "a: 1\n")
    runs = [subprocess.Popen([sys.executable, "-m", "tallix_cst", "set", f"k{i}", str(i), str(path), "-i"]) for i in range(20)]
    assert [run.wait(timeout=120) for run in runs] == [0] * 20
    assert sorted(pair.key for pair in load(path)) == sorted(["a", *(f"k{i}" for i in range(20))])
    assert sorted(p.name for p in tmp_path.iterdir()) == ["f.quarel"]


# Root's file edited by nobody: the owner never changes; where a new file could not get it
# the file is rewritten in place, a sticky folder included.
@pytest.mark.parametrize("file_mode,folder_mode,status,error", [
    (0o444, 0o777, 2, "{path}: error: permission denied: the file is not writable"),
    (0o666, 0o555, 2, "{path}: error: permission denied: its folder {folder} is not writable"),
    (0o666, 0o777, 0, None),
    (0o666, 0o1777, 0, None),
])
def test_another_users_file(shared_folder, file_mode, folder_mode, status, error):
    if os.geteuid() != 0 and status == 0:
        pytest.skip("needs root, to edit a file as another user")
    path = write(shared_folder / "f.quarel", "a: 1\n")
    path.chmod(file_mode)
    before = path.stat()
    shared_folder.chmod(folder_mode)
    # As root, the command runs as nobody, once everything it needs is imported.
    become = "os.setgid(65534); os.setuid(65534)" if os.geteuid() == 0 else ""
    code = f"import gettext, locale, os, sys; from tallix_cst import cli; {become}; sys.exit(cli.main(sys.argv[1:]))"
    try:
        result = subprocess.run([sys.executable, "-c", code, "set", "a", "2", str(path), "-i"], capture_output=True, timeout=60)
    finally:
        shared_folder.chmod(0o777)
    # (`make coverage` builds the extension with gcov, whose complaints about counts the other
    # user may not write also reach stderr.)
    errors = [line for line in result.stderr.decode().splitlines() if not line.startswith("profiling:")]
    assert (result.returncode, errors) == (status, [error.format(path=path, folder=shared_folder)] if error else [])
    after = path.stat()
    assert path.read_text() == ("a: 2\n" if status == 0 else "a: 1\n")
    assert (after.st_ino, after.st_uid, after.st_gid, after.st_mode) == (before.st_ino, before.st_uid, before.st_gid, before.st_mode)
    assert sorted(shared_folder.iterdir()) == [path]
