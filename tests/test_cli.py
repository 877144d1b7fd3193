"""`quarel`, run in this process: one table per command, files compared as bytes."""

import contextlib
import difflib
import fcntl
import io
import json
import os
import pty
import re
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
from pathlib import Path
from unittest import mock

import pytest
from conftest import run_quarel, write
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
from strategies import documents

from tallix_cst import Selector, cli, diff, format_options, json_stream, loads, parse_quarel
from tallix_cst.cli import reading
from tallix_cst.failures import quoted

# Locks, worker processes and reads that could wait forever fail the test instead.
pytestmark = pytest.mark.timeout(300)
USERS = """\
# The users view.
view: users {
  label: "Users"

  dimension: id {
    type: number
    sql: ${TABLE}.id ;;
  }

  # The account's mail.
  dimension: email_id {
    label: "Mail
    address"
  }

  measure: count {
    drill_fields: [id, email]
    filters: [status: "active", tier: gold]
  }
}
"""
ORDERS = "view: orders {\n  dimension: user_id {\n    type: number\n  }\n}\n"


@pytest.fixture
def views(tmp_path):
    """views/users.quarel and views/sub/orders.quarel, a file that is not Quarel, and shop.quarel, which does
    not parse, beside the folder."""
    write(tmp_path / "views" / "users.quarel", USERS)
    write(tmp_path / "views" / "sub" / "orders.quarel", ORDERS)
    write(tmp_path / "views" / "notes.txt", "not: [quarel")
    write(tmp_path / "shop.quarel", "a:")
    return tmp_path / "views"


def changed(before, after):
    """USERS with one line (or a run of lines) replaced."""
    assert before in USERS
    return USERS.replace(before, after, 1)


U, O = "views/users.quarel", "views/sub/orders.quarel"
REPORT = "shop.quarel:1:3: expected a value\n"
# (arguments, status, standard output, standard error)
READS = [
    (["get", "view:users/dimension:id/sql", U], 0, "${TABLE}.id\n", ""),
    (["get", "view:users/measure:count/filters", U], 0, '[{"status": "active"}, {"tier": "gold"}]\n', ""),
    # A block at the left margin; the string's second line keeps its own spaces.
    (["get", "view/dimension:email_id", U], 0, 'dimension: email_id {\n  label: "Mail\n    address"\n}\n', ""),
    (["get", "/", U], 0, USERS, ""),
    (["get", "view:*/dimension:*_id/label", "views"], 0, f"{U}: Mail\n{U}:     address\n", ""),
    (["get", "view:*/dimension:[iu]*/type", "views"], 0, f"{U}: number\n{O}: number\n", ""),
    (["get", "dimen\\*", U], 1, "", f"quarel: `dimen\\*` matches nothing in {U}\n"),
    (["get", "view:users/label/x", U], 1, "", f"quarel: `view:users/label/x` matches nothing in {U}\n"),
    (["get", "a", "shop.quarel", "views"], 1, "", REPORT),
    (["check", "views", "shop.quarel"], 1, REPORT, "1 problem in 1 of 3 files, 0 failed\n"),
    (["comment", "view/dimension:*", "views"], 0, f"{U}: # The account's mail.\n", ""),
    (["--version"], 0, "quarel 0.1.0\n", ""),
]


TREE = "a*b: 1\na/b: 2\naxb: 3\nv: one { k: 4 }\nv: two { k: 5 n: { k: 6 } }\nv: { k: 7 }\n"


# (selector, values of the pairs it picks out of TREE; None: refused)
SELECTORS = [("a*b", ["1", "2", "3"]), ("a\\*b", ["1"]), ("a\\/b", ["2"]), ("a[!*\\/]b", ["3"]), ("?", [None] * 3),
             ("v/k", ["4", "5", "7"]), ("v:*/k", ["4", "5"]), ("v:t??/*/k", ["6"]), ("v:[a-o]*/k", ["4"]), ("*/*/*", ["6"]),
             *((text, None) for text in ["", "a//b", ":n", "a:", "a\\b", "a\\"])]


@pytest.mark.parametrize("text,values", SELECTORS)
def test_selectors(text, values):
    if values is None:
        with pytest.raises(ValueError):
            Selector(text)
    else:
        assert [pair.value for pair in Selector(text).select(parse_quarel(TREE))] == values


@pytest.mark.parametrize("args,status,out,err", READS)
def test_reads(quarel, views, args, status, out, err):
    assert quarel(*args) == (status, out, err)


# Folders in sorted order, each one's own files before its subfolders.
WALKED = ["d/a.quarel", "d/z.quarel", "d/\u00e4.quarel", "d/B/x.quarel", "d/b/a.quarel", "d/b/y.quarel", "d/b/c/a.quarel"]


def test_folders_are_walked_in_sorted_order(quarel, tmp_path, monkeypatch):
    for name in WALKED:
        write(tmp_path / name, "k: 1\n")
    listed = os.scandir

    class Backwards:
        """A folder's entries as os.scandir gives them, last name first."""

        def __init__(self, path="."):
            with listed(path) as entries:
                self.entries = iter(sorted(entries, key=lambda entry: entry.name, reverse=True))

        __enter__ = __iter__ = lambda self: self
        __exit__ = lambda self, *exc_info: None
        __next__ = lambda self: next(self.entries)

    monkeypatch.setattr(os, "scandir", Backwards)
    assert quarel("get", "k", "d") == (0, "".join(f"{name}: 1\n" for name in WALKED), "")


# The worst failure sets the status, in any order: 1 a file that does not parse, 2 one that cannot be read.
@pytest.mark.parametrize("names,status", [
    (["ok"], 0), (["bad"], 1), (["ok", "bad", "ok"], 1), (["missing", "ok"], 2), (["bad", "missing"], 2), (["missing", "bad"], 2),
])
def test_the_worst_failure_sets_the_status(quarel, tmp_path, names, status):
    write(tmp_path / "ok.quarel", "a: 1\n")
    write(tmp_path / "bad.quarel", "a: [\n")
    for command in (["check"], ["get", "a"], ["set", "a", "2"], ["set", "-i", "a", "2"]):
        assert quarel(*command, *(f"{name}.quarel" for name in names))[0] == status, command


# What matches nothing prints nothing and adds nothing, be it in one file or in many.
@pytest.mark.parametrize("args", [["set", "b*", "2"], ["set", "view/dimension:x*/hidden", "yes"], ["rm", "b*"], ["add", "b*", "--source", "c: 1"]])
@pytest.mark.parametrize("paths", [[U], [U, O]])
def test_an_edit_that_matches_nothing(quarel, views, args, paths):
    where = U if len(paths) == 1 else "2 files"
    for mode in ([], ["-i"]):
        assert quarel(*args, *paths, *mode) == (1, "", f"quarel: `{args[1]}` matches nothing in {where}\n")
    assert (views / "users.quarel").read_text() == USERS

def dumped(tree):
    return json.dumps(tree, ensure_ascii=False, indent=2) + "\n"


def test_json_prints_what_json_dumps_prints(quarel, views):
    write(views / "empty.quarel", "")
    users, orders = (loads((views.parent / path).read_bytes()).to_data() for path in (U, O))
    counts = [p.to_data() for p in Selector("view/measure:*").select(parse_quarel(USERS))]
    filters = {"key": "filters", "name": None, "kind": "list", "value": [{"status": "active"}, {"tier": "gold"}]}
    assert quarel("json", U, "--select", "view:users/measure:count/filters") == (0, dumped([{**filters, "children": []}]), "")
    assert quarel("json", U) == (0, dumped(users), "")
    # A file that fails is left out; a file named twice is printed once.
    assert quarel("json", "views", "shop.quarel", U) == (1, dumped({"views/empty.quarel": [], U: users, O: orders}), REPORT)
    assert quarel("json", U, O, "--select", "view/measure:*") == (0, dumped({U: counts, O: []}), "")
    assert quarel("json", "shop.quarel") == (1, "", REPORT)


JSON = st.recursive(st.none() | st.booleans() | st.integers() | st.text(),
                    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(), inner, max_size=3), max_leaves=8)


@given(st.lists(st.tuples(st.sampled_from(["a", "b", "é\n\"c\""]), st.lists(JSON, max_size=3)), max_size=3), st.booleans())
def test_json_stream_prints_what_json_dumps_prints(files, small_chunks):
    tree = {}
    for name, items in files:
        tree.setdefault(name, items)
    for many in [True, False][:2 if len(files) <= 1 else 1]:
        written = []
        with mock.patch.object(json_stream, "CHUNK", 1 if small_chunks else json_stream.CHUNK):
            stream = json_stream.JsonStream(written.append, many)
            for name, items in files:
                stream.file(name, iter(items))
            stream.close()
        expected = dumped(tree if many else next(iter(tree.values()))) if tree else ""
        assert "".join(written) == expected


# (command and arguments before the path, the text of USERS that changes, what it becomes)
EDITS = [
    (["set", "view:users/label", "All users"], '"Users"', '"All users"'),
    (["set", "view/dimension:i?/type", "string"], "    type: number\n", "    type: string\n"),
    (["set", "view/dimension:id/type", "7", "--kind", "string"], "type: number", 'type: "7"'),
    (["set", "view/measure:count/drill_fields", '["id", "name"]'], "[id, email]", "[id, name]"),
    (["set", "view/measure:count/filters", '{"status": "closed"}'], '[status: "active", tier: gold]', '[status: "closed"]'),
    # JSON is written as given: numbers, true, false and null as they stand; a key given twice stays twice.
    (["set", "view/measure:count/drill_fields", "[1.5e3, 1e400, -0, 10, 2.50, 1E-7]"], "[id, email]", "[1.5e3, 1e400, -0, 10, 2.50, 1E-7]"),
    (["set", "view/measure:count/drill_fields", "[true, false, null]"], "[id, email]", "[true, false, null]"),
    (["set", "view/measure:count/drill_fields", '["a", "b c", {"k": 1e3}, [true, "x"]]'], "[id, email]", '[a, "b c", k: 1e3, [true, x]]'),
    (["set", "view/measure:count/filters", '{"a": 1, "a": "2"}'], '[status: "active", tier: gold]', '[a: 1, a: "2"]'),
    # A plain key that a matching block lacks is added.
    (["set", "view/dimension:id/hidden", "yes"], "${TABLE}.id ;;\n", "${TABLE}.id ;;\n    hidden: yes\n"),
    (["rm", "view/dimension:email_id"], '\n  # The account\'s mail.\n  dimension: email_id {\n    label: "Mail\n    address"\n  }\n', ""),
    (["rename", "view/measure:count", "measure:total"], "measure: count", "measure: total"),
    (["rename", "view/dimension:?d", "dim"], "dimension: id", "dim: id"),
    (["add", "view:users", "--source", "hidden: yes", "--index", "1"], '"Users"\n', '"Users"\n  hidden: yes\n'),
    (["add", "/", "--source", "connection: db"], "  }\n}\n", "  }\n}\nconnection: db\n"),
    (["comment", "view/dimension:email_id", "--set", "Mail.", "--set", "# Twice."], "# The account's mail.", "# Mail.\n  # Twice."),
    (["comment", "view/dimension:email_id", "--clear"], "  # The account's mail.\n", ""),
]


@pytest.mark.parametrize("args,before,after", EDITS)
def test_edits(quarel, views, args, before, after):
    expected = changed(before, after)
    assert quarel(*args, U) == (0, expected, "")
    assert quarel(*args, U, "-i") == (0, "", "")
    assert (views / "users.quarel").read_text() == expected


@pytest.mark.parametrize("args,status,err", [
    (["set", "view/dimension:id/type", "a b", "--kind", "literal"], 2, '"a b" is not a valid Quarel literal'),
    (["set", "view/dimension:id/sql", "a ;; b"], 2, "an expression cannot contain `;;`"),
    (["set", "view/measure:count/drill_fields", "id"], 2, 'a list value is a JSON array, such as ["a", "b"]'),
    (["set", "view/measure:count/drill_fields", "[1, NaN]"], 2, "`NaN` is not a JSON number"),
    (["set", "view/measure:count/drill_fields", '[{"a": 1, "b": 2}]'], 2,
     'a pair in a list is an object with one key, such as {"status": "open"}'),
    (["set", "view/dimension:id", "x"], 2, "`dimension` is a block; give --kind to replace it"),
    (["set", "view/label/type", "x"], 1, "`label` is a string, not a block"),
    (["add", "view/label", "--source", "a: 1"], 1, "`label` is a string, not a block"),
    (["add", "/", "--source", "a: 1", "--index", "-9"], 2, "--index -9 is out of range"),
    (["rename", "view", "a b"], 2, '"a b" is not a valid Quarel key'),
])
def test_failed_edit_leaves_the_file_alone(quarel, views, args, status, err):
    path = views / "users.quarel"
    before = path.stat()
    assert quarel(*args, U, "--in-place") == (status, "", f"{U}: error: {err}\n")
    assert path.read_text() == USERS
    assert path.stat().st_mtime_ns == before.st_mtime_ns
    assert sorted(p.name for p in views.iterdir()) == ["notes.txt", "sub", "users.quarel"]


def test_edits_over_many_files(quarel, views):
    status, out, err = quarel("set", "view:*/dimension:*_id/hidden", "yes", "views", "--diff")
    assert (status, err) == (0, "")
    assert out.count("+    hidden: yes\n") == 2 and f"--- a/{O}\n" in out and f"--- a/{U}\n" in out
    status, out, _ = quarel("rm", "view:*/dimension:id", "views")
    removed = changed("  dimension: id {\n    type: number\n    sql: ${TABLE}.id ;;\n  }\n\n", "")
    assert out == f"==> {U} <==\n{removed}==> {O} <==\n{ORDERS}"


@pytest.mark.parametrize("data,status,err", [
    (None, 2, "{f}: error: No such file or directory"),
    (b"a: \xff\n", 2, "{f}: error: not valid UTF-8 (byte 3)"),
    (b"a: 1\nb\n", 1, "{f}:2:2: expected `:` after key"),
])
def test_unreadable_files(quarel, tmp_path, data, status, err):
    path, err = tmp_path / "f.quarel", err.format(f=tmp_path / "f.quarel") + "\n"
    if data is not None:
        path.write_bytes(data)
    for command in (["get", "a"], ["rm", "a", "-i"]):
        assert quarel(*command, path) == (status, "", err)
    # check reports a syntax error on standard output, any other failure on standard error.
    summary = "1 problem in 1 of 1 file, 0 failed\n" if status == 1 else "no problems in 0 files, 1 failed\n"
    assert quarel("check", path) == ((status, err, summary) if status == 1 else (status, "", err + summary))


# set without a value, bad selectors, --set with --clear, --all-or-nothing without a write, ...
@pytest.mark.parametrize("args", [
    ["set", "a", "f.quarel"], ["get", ":x", "f.quarel"], ["get", "a:", "f.quarel"], ["get", "a\\b", "f.quarel"],
    ["rm", "/", "f.quarel"], ["add", "a", "f.quarel"], ["rename", "a", "b:", "f.quarel"],
    ["comment", "a", "f.quarel", "--set", "x", "--clear"], ["comment", "a", "f.quarel", "-i"],
    ["add", "/", "f.quarel", "--source", "a: {"], ["apply", "missing.py", "f.quarel"], ["get"], [],
    ["set", "a", "2", "f.quarel", "--all-or-nothing"], ["fmt", "--check", "--all-or-nothing", "f.quarel"],
])
def test_usage_errors(quarel, tmp_path, args):
    write(tmp_path / "f.quarel", "a: 1\n")
    status, out, err = quarel(*args)
    assert (status, out) == (1 if "a: {" in args else 2, "")
    assert err.startswith("usage: quarel") or len(err.splitlines()) == 1
    assert (tmp_path / "f.quarel").read_text() == "a: 1\n"


# A script that raises, ends its process or the run fails that file alone, whatever the mode.
@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize("stop,message", [
    ("raise RuntimeError('no thanks')", "d/bad.quarel: RuntimeError: no thanks"),
    ("sys.exit(0)", "d/bad.quarel: SystemExit: 0 (edit() may not end the run)"),
    ("sys.exit(3)", "d/bad.quarel: SystemExit: 3 (edit() may not end the run)"),
    ("raise KeyboardInterrupt", "d/bad.quarel: KeyboardInterrupt: "),
    ("os._exit(0)", "d/bad.quarel: error: the process editing it ended (exit status 0)"),
    ("os.kill(os.getpid(), signal.SIGKILL)", "d/bad.quarel: error: the process editing it ended (killed by SIGKILL)"),
])
@pytest.mark.parametrize("options,written,word", [
    (["--check"], False, "would change"), (["-i"], True, "changed"), (["-i", "--all-or-nothing"], False, "would change"),
])
def test_apply_scripts_that_end_their_process(quarel, tmp_path, jobs, stop, message, options, written, word):
    (tmp_path / "script.py").write_text(f"import os, signal, sys\ndef edit(doc, path):\n    if 'bad' in path:\n        {stop}\n    doc['b'] = '2'\n")
    names = [f"f{i}.quarel" for i in range(6)] + ["bad.quarel"] + [f"g{i}.quarel" for i in range(6)]
    for name in names:
        write(tmp_path / "d" / name, "a: 1\n")
    write(tmp_path / "d" / "same.quarel", "a: 1\nb: 2\n")
    good = [f"d/{name}" for name in sorted(names) if name != "bad.quarel"]
    summary = f"12 {word}, 1 unchanged, 1 failed"
    assert quarel("apply", "script.py", "d", "-j", jobs, *options) == (1, "".join(p + "\n" for p in good), f"{message}\n{summary}\n")
    assert [(tmp_path / p).read_text() for p in good] == ["a: 1\nb: 2\n" if written else "a: 1\n"] * 12
    assert (tmp_path / "d" / "bad.quarel").read_text() == "a: 1\n"
    if options == ["--check"]:  # with no failure, a change alone fails the check
        assert quarel("apply", "script.py", "d/same.quarel", "--check") == (0, "", "0 would change, 1 unchanged, 0 failed\n")
        assert quarel("apply", "script.py", "d/f0.quarel", "--check") == (1, "d/f0.quarel\n", "1 would change, 0 unchanged, 0 failed\n")


@pytest.mark.parametrize("jobs", ["1", "3"])
def test_apply_goes_on_after_many_lost_workers(quarel, tmp_path, jobs):
    (tmp_path / "script.py").write_text("import os\ndef edit(doc, path):\n    if '/x' in path:\n        os._exit(1)\n    doc['b'] = '2'\n")
    names = [f"{'x' if i % 7 in (0, 3) else 'f'}{i:03}.quarel" for i in range(150)]
    for name in names:
        write(tmp_path / "d" / name, "a: 1\n")
    lost = [f"d/{n}: error: the process editing it ended (exit status 1)" for n in sorted(names) if n[0] == "x"]
    edited = [f"d/{n}" for n in sorted(names) if n[0] == "f"]
    status, out, err = quarel("apply", "script.py", "d", "-j", jobs)
    assert (status, out.splitlines(), err.splitlines()) == (1, edited, [*lost, f"107 would change, 0 unchanged, 43 failed"])


@pytest.mark.parametrize("script,options,err", [
    ("import os\nos._exit(3)", [], "quarel: error: a worker process ended while starting (exit status 3)"),
    ("import sys\nsys.exit(0)", [], "script.py: error: SystemExit: 0"),
    ("edit = 3", [], "script.py: error: `edit` is a int, not a function edit(doc, path)"),
    ("def edit(doc, path): pass", ["--all-or-nothing"], "quarel apply: error: --all-or-nothing needs --in-place"),
    ("def edit(doc, path): pass", ["-"], "quarel apply: error: the script runs over files, not standard input"),
])
def test_apply_refusals(quarel, tmp_path, script, options, err):
    (tmp_path / "script.py").write_text(script)
    write(tmp_path / "f.quarel", "a: 1\n")
    assert quarel("apply", "script.py", "f.quarel", *options) == (2, "", err + "\n")


# Names as `ls` shows them: a listing keeps one file a line, and prints no terminal escape.
@pytest.mark.parametrize("name,shown", [
    ("plain name.quarel", "plain name.quarel"), ("it's.quarel", "it's.quarel"),
    ("new\nline\x1b[31m.quarel", "'new'$'\\n''line'$'\\033''[31m.quarel'"), ("\r\tx.quarel", "$'\\r\\t''x.quarel'"),
    ("it's\n.quarel", "'it'\\''s'$'\\n''.quarel'"), (os.fsdecode(b"x\xff.quarel"), "'x'$'\\377''.quarel'"),
    ("\u009b.quarel", "$'\\302\\233''.quarel'"),
])
def test_names_are_quoted_as_ls_quotes_them(quarel, tmp_path, name, shown):
    assert quoted(name) == shown
    (tmp_path / "script.py").write_text("def edit(doc, path):\n    doc['b'] = '2'\n")
    path = write(tmp_path / name, "a: 1\n")
    assert quarel("apply", "script.py", ".") == (0, quoted(f"./{name}") + "\n", "1 would change, 0 unchanged, 0 failed\n")
    for fails, error in [("raise RuntimeError('no')", "RuntimeError: no"), ("os._exit(1)", "error: the process editing it ended (exit status 1)")]:
        (tmp_path / "script.py").write_text(f"import os\ndef edit(doc, path):\n    {fails}\n")
        assert quarel("apply", "script.py", name)[2].startswith(f"{shown}: {error}\n")
    path.write_text("a: [")
    assert quarel("check", name) == (1, f"{shown}:1:5: expected a list element\n", "1 problem in 1 of 1 file, 0 failed\n")


def test_apply_script_output_goes_to_standard_error(tmp_path):
    script = write(tmp_path / "script.py", "import os\nprint('loading')\ndef edit(doc, path):\n    print('editing')\n    os.system('echo shell')\n    doc['b'] = '2'\n")
    path = write(tmp_path / "f.quarel", "a: 1\n")
    for options in [[], ["--diff"]]:
        result = run_quarel("apply", script, path, *options)
        assert result.stdout.decode().splitlines()[-1] in (str(path), "+b: 2")
        assert "loading" not in result.stdout.decode() and "editing" not in result.stdout.decode()
        assert result.stderr.decode().splitlines()[:3] == ["loading", "editing", "shell"]


def test_apply_clears_its_progress_bar_before_a_line(tmp_path):
    (tmp_path / "script.py").write_text("def edit(doc, path):\n    if 'bad' in path:\n        raise RuntimeError('no thanks')\n    doc['b'] = '2'\n")
    for name in ["bad1.quarel", "x.quarel", "bad2.quarel"]:
        write(tmp_path / "d" / name, "a: 1\n")
    main, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))  # a pty starts 0 wide
    run = subprocess.Popen([sys.executable, "-m", "tallix_cst", "apply", "script.py", "d"], cwd=tmp_path,
                           stdout=subprocess.PIPE, stderr=terminal)
    os.close(terminal)
    shown = b""
    with contextlib.suppress(OSError):  # the terminal's end is gone
        while chunk := os.read(main, 4096):
            shown += chunk
    assert run.wait(timeout=60) == 1 and run.stdout.read() == b"d/x.quarel\n"
    failures = re.findall(rb"(.?)d/bad\d.quarel: RuntimeError", shown)
    assert failures == [b"\r", b"\r"], shown


def test_apply_interrupted_lists_what_it_wrote(tmp_path):
    script = write(tmp_path / "script.py", "import time\ndef edit(doc, path):\n    time.sleep(0.2)\n    doc['b'] = '2'\n")
    paths = [write(tmp_path / "d" / f"f{i:03}.quarel", "a: 1\n") for i in range(100)]
    run = subprocess.Popen([sys.executable, "-m", "tallix_cst", "apply", str(script), str(tmp_path / "d"), "-i", "-j", "2"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    while run.poll() is None and all(p.read_text() == "a: 1\n" for p in paths):
        time.sleep(0.05)
    os.killpg(run.pid, signal.SIGINT)  # as Ctrl-C does: the whole group
    out, err = run.communicate(timeout=10)  # the rest would take ten seconds
    assert (run.returncode, err.decode().splitlines()[-1]) == (130, "quarel: interrupted"), err
    files = {str(p): p.read_text() for p in (tmp_path / "d").iterdir()}
    assert set(files.values()) <= {"a: 1\n", "a: 1\nb: 2\n"} and len(files) == 100
    assert sorted(out.decode().splitlines()) == sorted(p for p, text in files.items() if text != "a: 1\n")


@settings(max_examples=50, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents(), st.sampled_from(["", "\ufeff"]))
def test_in_place_edits_write_exactly_what_the_document_prints(source, mark):
    source = mark + source  # with a byte-order mark or without
    doc = loads(source.encode())  # as the command reads the file
    assume(len(doc) > 0)
    key = re.sub(r"([/*?[\\])", r"\\\1", doc.children[0].key)  # escaped for a selector
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "f.quarel"
        path.write_bytes(source.encode())
        # `--` since a key may begin with a dash.
        assert cli.main(["set", "-i", "--kind", "expr", "--", key, "x;;y", str(path)]) == 2
        assert path.read_bytes() == source.encode()
        assert cli.main(["rm", "-i", "--", key, str(path)]) == 0
        for pair in doc.find_all(doc.children[0].key):
            pair.detach()
        assert path.read_bytes() == doc.to_bytes()
        assert cli.main(["add", "-i", "/", "--source", "k: v", str(path)]) == 0
        doc.add_source("k: v")
        assert path.read_bytes() == doc.to_bytes()


def test_standard_input_and_utf8_output(tmp_path):
    result = run_quarel("set", "名前", "値", "-", input="名前: 1\r\n".encode(), env={"PYTHONIOENCODING": "ascii"})
    assert result.stdout == '名前: "値"\r\n'.encode()
    refused = run_quarel("rm", "a", "-", "--in-place", input=b"a: 1\n")
    assert (refused.returncode, refused.stderr) == (2, b"<stdin>: error: --in-place needs a file\n")


def test_closed_full_and_interrupted_output(tmp_path, monkeypatch, quarel):
    path = write(tmp_path / "big.quarel", "a: 1\n" * 100_000)
    with open(os.devnull, "rb") as nothing:
        closed = subprocess.run(f"{sys.executable} -m tallix_cst get a {path} | head -c 1 >/dev/null; exit ${{PIPESTATUS[0]}}",
                                shell=True, executable="/bin/bash", stdin=nothing, capture_output=True, timeout=60)
    assert (closed.returncode, closed.stderr) == (2, b"quarel: error: the output was closed\n")
    with open("/dev/full", "wb") as full:  # what argparse prints stays buffered until the end
        version = run_quarel("--version", stdout=full, env={"PYTHONUNBUFFERED": ""})
    assert (version.returncode, version.stderr) == (2, b"quarel: error: cannot write the output: No space left on device\n")
    monkeypatch.setattr(reading, "read", mock.Mock(side_effect=KeyboardInterrupt))
    assert quarel("get", "a", path) == (130, "", "quarel: interrupted\n")


def no_file_beyond_64k():
    """In the child: a file larger than 64 KiB cannot be written (a full disk for any user:
    the write that crosses the limit is cut short, the next fails)."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))


@pytest.mark.parametrize("unbuffered", ["", "1"], ids=["buffered", "unbuffered"])
@pytest.mark.parametrize("args", [["get", "/"], ["set", "a", "2"], ["json"]])
def test_output_to_a_full_disk(tmp_path, args, unbuffered):
    path = write(tmp_path / "big.quarel", "a: 1\n" * 20_000)  # 100 KB, and more as JSON
    with open(tmp_path / "out", "wb") as target:
        result = run_quarel(*args, path, stdout=target, env={"PYTHONUNBUFFERED": unbuffered}, preexec_fn=no_file_beyond_64k)
    assert (result.returncode, result.stderr) == (2, b"quarel: error: cannot write the output: File too large\n")


def numbered(*lines):
    return "".join(f"{line}\n" for line in lines)


# (before, after, the diff after its two header lines)
DIFFS = [
    ("", "", None),
    ("", "a\n", "@@ -0,0 +1 @@\n+a\n"),
    ("a\n", "", "@@ -1 +0,0 @@\n-a\n"),
    ("a", "a\n", "@@ -1 +1 @@\n-a\n\\ No newline at end of file\n+a\n"),
    ("a\n", "b", "@@ -1 +1 @@\n-a\n+b\n\\ No newline at end of file\n"),
    ("a\r\nb\r\n", "a\r\nc\r\n", "@@ -1,2 +1,2 @@\n a\r\n-b\r\n+c\r\n"),
    (numbered(1, 2, 3, 4, 5), numbered("X", 2, 3, 4, 5), "@@ -1,4 +1,4 @@\n-1\n+X\n 2\n 3\n 4\n"),
    (numbered(1, 2, 3, 4, 5), numbered(1, 2, 3, 4, "X"), "@@ -2,4 +2,4 @@\n 2\n 3\n 4\n-5\n+X\n"),
    # Seven unchanged lines apart: two hunks; six: one.
    (numbered(*range(1, 21)), numbered(1, "X", *range(3, 10), "Y", *range(11, 21)),
     "@@ -1,5 +1,5 @@\n 1\n-2\n+X\n 3\n 4\n 5\n@@ -7,7 +7,7 @@\n 7\n 8\n 9\n-10\n+Y\n 11\n 12\n 13\n"),
    (numbered(*range(1, 21)), numbered(1, "X", *range(3, 9), "Y", *range(10, 21)),
     "@@ -1,12 +1,12 @@\n 1\n-2\n+X\n 3\n 4\n 5\n 6\n 7\n 8\n-9\n+Y\n 10\n 11\n 12\n"),
    ("a\n\nb\n", "a\n\nx\n\nb\n", "@@ -1,3 +1,5 @@\n a\n \n+x\n+\n b\n"),
]


@pytest.mark.parametrize("before,after,hunks", DIFFS)
def test_diff(before, after, hunks):
    assert diff.unified_diff(before, after, "f") == ("" if hunks is None else f"--- a/f\n+++ b/f\n{hunks}")


def edited(edits, cut_before, cut_after):
    """Before and after: each (action, line, new line) keeps, drops or replaces its line or adds
    the new one before it; either side may lose its final line feed."""
    before = "".join(old for _, old, _ in edits)
    after = "".join({"keep": old, "drop": "", "replace": new, "add": new + old}[action] for action, old, new in edits)
    return before[:-1] if cut_before else before, after[:-1] if cut_after else after


ACTIONS = st.sampled_from(["keep", "drop", "replace", "add"])
NO_NEWLINE = "\\ No newline at end of file\n"


def lines_of(text):
    return re.findall(r"[^\n]*\n|[^\n]+\Z", text)


# With no line twice, the lines kept are matched one way only: difflib's diff is the diff.
@pytest.mark.parametrize("small", [0, diff.SMALL])
@given(st.lists(ACTIONS, max_size=40), st.booleans(), st.booleans())
def test_diff_is_difflibs_where_lines_are_unique(small, actions, cut_before, cut_after):
    edits = [(action, f"{n}\n", f"new {n}\n") for n, action in enumerate(actions)]
    before, after = edited(edits, cut_before, cut_after)
    expected = difflib.unified_diff(lines_of(before), lines_of(after), "a/f", "b/f")
    with mock.patch.object(diff, "SMALL", small):  # 0: anchors, however short the texts
        assert diff.unified_diff(before, after, "f") == "".join(
            line if line.endswith("\n") else f"{line}\n{NO_NEWLINE}" for line in expected)


def patched(before, text):
    """`before` with the unified diff applied, each context and removed line checked against it,
    the header's counts against the hunk, and three lines of context at either end but the file's."""
    old, new, at = lines_of(before), [], 0
    header, *hunks = re.split(r"^@@ -(\d+),?(\d*) \+(\d+),?(\d*) @@\n", text, flags=re.M)
    assert header == "--- a/f\n+++ b/f\n"
    for n in range(0, len(hunks), 5):
        start, count, new_start, new_count = (int(field or 1) for field in hunks[n:n + 4])
        start, new_start = start - (count > 0), new_start - (new_count > 0)
        assert start > at or start == at == 0
        new += old[at:start]
        at = start
        assert len(new) == new_start
        items = re.findall(rf"([ +-])([^\n]*\n)({re.escape(NO_NEWLINE)})?", hunks[n + 4])
        assert "".join(tag + line + cut for tag, line, cut in items) == hunks[n + 4]
        tags = "".join(tag for tag, _, _ in items)
        assert len(tags) - len(tags.lstrip(" ")) == 3 or start == 0
        for tag, line, cut in items:
            line = line[:-1] if cut else line
            if tag != "+":
                assert old[at] == line
                at += 1
            if tag != "-":
                new.append(line)
        assert len(tags) - len(tags.rstrip(" ")) == 3 or at == len(old)
        assert (tags.count(" ") + tags.count("-"), tags.count(" ") + tags.count("+")) == (count, new_count)
    return "".join(new + old[at:])


@pytest.mark.parametrize("small", [0, diff.SMALL])
@given(st.lists(st.tuples(ACTIONS, *[st.sampled_from(["a\n", "b\n", "\n", "\r\n", "c\r\n", "}\n"])] * 2), max_size=40),
       st.booleans(), st.booleans())
def test_diff_turns_before_into_after(small, edits, cut_before, cut_after):
    before, after = edited(edits, cut_before, cut_after)
    with mock.patch.object(diff, "SMALL", small):
        text = diff.unified_diff(before, after, "f")
    assert patched(before, text) == after if before != after else text == ""


UGLY, TIDY = "a:  1  \n", "a: 1\n"
NO_LIST = "d/bad.quarel:2:1: expected a list element\n"
NOT_WRITABLE = "d/ugly.quarel: error: permission denied: the file is not writable\n"


# (arguments, what goes wrong, status, standard output, standard error, ugly.quarel after); standard input is UGLY.
# Ctrl-C, or a failed check of the result, on d/tidy.quarel: d/ugly.quarel before it is written all the same.
@pytest.mark.parametrize("args,fault,status,out,err,after", [
    (["d"], None, 1, "", f"{NO_LIST}1 reformatted, 1 unchanged, 1 failed\n", TIDY),
    (["--check", "d"], None, 1, "would reformat d/ugly.quarel\n", f"{NO_LIST}1 would reformat, 1 unchanged, 1 failed\n", UGLY),
    (["--diff", "d/ugly.quarel", "d/tidy.quarel"], None, 1, "--- a/d/ugly.quarel\n+++ b/d/ugly.quarel\n@@ -1 +1 @@\n-a:  1  \n+a: 1\n",
     "1 would reformat, 1 unchanged, 0 failed\n", UGLY),
    (["d/tidy.quarel", "./d/tidy.quarel"], None, 0, "", "0 reformatted, 1 unchanged, 0 failed\n", UGLY),
    (["missing.quarel", "d/ugly.quarel"], None, 2, "", "missing.quarel: error: No such file or directory\n1 reformatted, 0 unchanged, 1 failed\n", TIDY),
    (["d/ugly.quarel", "d/tidy.quarel"], "read-only", 2, "", f"{NOT_WRITABLE}0 reformatted, 1 unchanged, 1 failed\n", UGLY),
    (["--check", "d/ugly.quarel"], "read-only", 1, "would reformat d/ugly.quarel\n", "1 would reformat, 0 unchanged, 0 failed\n", UGLY),
    (["-"], None, 0, TIDY, "1 reformatted, 0 unchanged, 0 failed\n", UGLY),
    (["--check", "-"], None, 1, "would reformat -\n", "1 would reformat, 0 unchanged, 0 failed\n", UGLY),
    (["--diff", "-"], None, 1, "--- a/-\n+++ b/-\n@@ -1 +1 @@\n-a:  1  \n+a: 1\n", "1 would reformat, 0 unchanged, 0 failed\n", UGLY),
    (["d/ugly.quarel", "d/tidy.quarel"], KeyboardInterrupt, 130, "", "quarel: interrupted\n", TIDY),
    (["d/ugly.quarel", "d/tidy.quarel"], ValueError("`a` would change"), 1, "", "d/tidy.quarel: error: `a` would change\n1 reformatted, 0 unchanged, 1 failed\n", TIDY),
])
def test_fmt(quarel, tmp_path, monkeypatch, args, fault, status, out, err, after):
    ugly = write(tmp_path / "d" / "ugly.quarel", UGLY)
    write(tmp_path / "d" / "tidy.quarel", TIDY)
    write(tmp_path / "d" / "bad.quarel", "a: [\n")
    real, access = format_options.format_document, os.access

    def format_document(doc, options):
        if doc.to_string() == TIDY:
            raise fault
        return real(doc, options)

    if fault == "read-only":
        ugly.chmod(0o444)  # and since root may write any file, refused as for anyone else:
        monkeypatch.setattr(os, "access", lambda path, mode: access(path, mode) and not (mode & os.W_OK and Path(path).resolve() == ugly.resolve()))
    elif fault is not None:
        monkeypatch.setattr(format_options, "format_document", format_document)
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(UGLY.encode())))
    assert quarel("fmt", *args) == (status, out, err)
    assert ugly.read_text() == after
    assert sorted(p.name for p in ugly.parent.iterdir()) == ["bad.quarel", "tidy.quarel", "ugly.quarel"]


EDITORCONFIG = "[*]\nindent_style = tab\nend_of_line = crlf\ninsert_final_newline = false\nmax_line_length = 80\ntrim_trailing_whitespace = false\n"
FROM_EDITORCONFIG = {"indent": "\t", "newline": "\r\n", "final_newline": False, "column_width": 80}


# (files of the project, options given on the command line, the options of sub/f.quarel)
@pytest.mark.parametrize("files,given,expected", [
    ({}, {}, {}),
    ({".editorconfig": EDITORCONFIG}, {}, FROM_EDITORCONFIG),
    ({".editorconfig": "[*]\nindent_size = 3\nend_of_line = cr\nmax_line_length = off\n"}, {}, {"indent": "   "}),
    ({".editorconfig": "[*.txt]\nindent_size = 4\n[sub/f.quarel]\nmax_line_length = 60\n"}, {}, {"column_width": 60}),
    ({"pyproject.toml": '[tool.quarel.format]\nindent = "tab"\nnewline = "lf"\nfinal_newline = true\n'}, {},
     {"indent": "\t", "newline": "\n", "final_newline": True}),
    ({".editorconfig": EDITORCONFIG, "sub/pyproject.toml": '[tool.quarel.format]\nindent = "   "\nmax_blank_lines = 2\n'}, {},
     {**FROM_EDITORCONFIG, "indent": "   ", "max_blank_lines": 2}),
    # The nearest pyproject.toml is the project's, with the table or without.
    ({"pyproject.toml": "[tool.quarel.format]\nindent = 2\n", "sub/pyproject.toml": "[tool.other]\nindent = 4\n"}, {}, {}),
    ({".editorconfig": EDITORCONFIG, "pyproject.toml": "[tool.quarel.format]\ncolumn_width = 90\nindent = 2\n"},
     {"indent": "    ", "max_blank_lines": 0}, {**FROM_EDITORCONFIG, "indent": "    ", "column_width": 90, "max_blank_lines": 0}),
])
def test_fmt_options_precedence(tmp_path, files, given, expected):
    for name, text in files.items():
        write(tmp_path / name, text)
    configuration = format_options.Configuration()
    configuration.options(tmp_path / "sub" / "other.quarel", given)  # what is read for one file is not another's
    assert configuration.options(tmp_path / "sub" / "f.quarel", given) == expected


# Command line over pyproject.toml over .editorconfig over the file's own style, end to end.
@pytest.mark.parametrize("args,after", [
    ([], "v: {\r\n  k: 1\r\n}\r\n"),
    (["--indent", "tab", "--newline", "lf"], "v: {\n\tk: 1\n}\n"),
])
def test_fmt_takes_the_projects_options(quarel, tmp_path, args, after):
    write(tmp_path / ".editorconfig", "[*.quarel]\nend_of_line = crlf\nindent_size = 8\n")
    write(tmp_path / "pyproject.toml", "[tool.quarel.format]\nindent = 2\n")
    path = write(tmp_path / "f.quarel", "v: {\n    k: 1\n}\n")
    assert quarel("fmt", *args, "f.quarel") == (0, "", "1 reformatted, 0 unchanged, 0 failed\n")
    assert path.read_bytes() == after.encode()


# (the file, its text, the start of the one-line error: {p} is the project's folder)
@pytest.mark.parametrize("name,text,err", [
    ("pyproject.toml", '[tool.quarel.format]\nnewline = "cr"\n', "{p}/pyproject.toml: error: [tool.quarel.format] newline = \"cr\": "),
    ("pyproject.toml", "[tool.quarel.format]\nmax_blank_lines = -1\n", "{p}/pyproject.toml: error: [tool.quarel.format] max_blank_lines = -1: "),
    ("pyproject.toml", '[tool.quarel.format]\nfinal_newline = "yes"\n', "{p}/pyproject.toml: error: [tool.quarel.format] final_newline = \"yes\": "),
    ("pyproject.toml", "[tool.quarel]\nformat = 1\n", "{p}/pyproject.toml: error: [tool.quarel.format] is not a table"),
    # A value of the wrong type says what is expected.
    ("quarel.toml", "[format]\ncolumn_width = 1e9\n", "{p}/quarel.toml: error: [format] column_width = 1000000000.0: expected a whole number"),
    ("quarel.toml", "[format]\nindent = true\n", "{p}/quarel.toml: error: [format] indent = true: expected a number of spaces from 1"),
    ("quarel.toml", "exclude = \"build\"\n", '{p}/quarel.toml: error: `exclude` = "build": expected a list of patterns'),
    (".editorconfig", "[*]\nindent_size = x\n", "{p}/.editorconfig: error: indent_size = x: "),
    (".editorconfig", "[*]\nindent_style = wide\n", "{p}/.editorconfig: error: indent_style = wide: "),
    (".editorconfig", "[*]\nend_of_line = lfcr\n", "{p}/.editorconfig: error: end_of_line = lfcr: "),
    (".editorconfig", "[*]\ninsert_final_newline = maybe\n", "{p}/.editorconfig: error: insert_final_newline = maybe: "),
    (".editorconfig", "[*]\nmax_line_length = wide\n", "{p}/.editorconfig: error: max_line_length = wide: "),
    (".editorconfig", "[*]\nno setting here\n", "{p}/.editorconfig: error: line 2 is not a setting: "),
    # The .editorconfig that sets the value is named, not the one nearer that does not.
    ("sub/.editorconfig", "[*.txt]\nindent_size = 2\n[*]\nindent_size = x\n", "{p}/sub/.editorconfig: error: indent_size = x: "),
])
def test_fmt_refuses_bad_options(quarel, tmp_path, name, text, err):
    write(tmp_path / name, text)
    write(tmp_path / "sub" / "deeper" / ".editorconfig", "[*.md]\nindent_size = 2\n")
    path = write(tmp_path / "sub" / "deeper" / "f.quarel", UGLY) if name.startswith("sub/") else write(tmp_path / "f.quarel", UGLY)
    status, out, printed = quarel("fmt", path.relative_to(tmp_path))
    assert (status, out, printed.count("\n")) == (2, "", 1)
    assert printed.startswith(err.format(p=tmp_path)), printed
    assert path.read_text() == UGLY

def rpc(*messages):
    """JSON-RPC messages as an editor writes them to the server's standard input."""
    bodies = [json.dumps({"jsonrpc": "2.0", **message}).encode() for message in messages]
    return b"".join(b"Content-Length: %d\r\n\r\n%s" % (len(body), body) for body in bodies)


INITIALIZE = {"id": 1, "method": "initialize", "params": {"processId": None, "capabilities": {}}}


def test_lsp_ends_with_its_stream():
    """An editor that closes the stream without shutdown and exit: status 1 (0 after both,
    1 after exit alone: test_lsp_stream.py)."""
    done = run_quarel("lsp", input=rpc(INITIALIZE))
    assert (done.returncode, done.stdout[:16]) == (1, b"Content-Length: "), done.stderr


def test_lsp_ends_with_its_client():
    """An editor that is gone takes its server with it."""
    editor = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
    with subprocess.Popen([sys.executable, "-m", "tallix_cst", "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE) as server:
        server.stdin.write(rpc({**INITIALIZE, "params": {"processId": editor.pid, "capabilities": {}}}))
        server.stdin.flush()
        while server.stdout.readline().strip():  # the headers of the answer
            pass
        editor.kill()
        editor.wait()
        assert server.wait(timeout=30) == 1
