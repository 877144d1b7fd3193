"""`quarel`, run in this process: one table per command, files compared as bytes."""

import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest
from conftest import run_quarel, write
from hypothesis import HealthCheck, assume, given, settings
from strategies import documents

from tallix_cst import Selector, cli, loads, parse_quarel

USERS = (
    "# The users view.\n"
    "view: users {\n"
    '  label: "Users"\n'
    "\n"
    "  dimension: id {\n"
    "    type: number\n"
    "    sql: ${TABLE}.id ;;\n"
    "  }\n"
    "\n"
    "  # The account's mail.\n"
    "  dimension: email_id {\n"
    '    label: "Mail\n'
    '    address"\n'
    "  }\n"
    "\n"
    "  measure: count {\n"
    "    drill_fields: [id, email]\n"
    '    filters: [status: "active", tier: gold]\n'
    "  }\n"
    "}\n"
)
ORDERS = "view: orders {\n  dimension: user_id {\n    type: number\n  }\n}\n"


@pytest.fixture
def views(tmp_path):
    """views/users.quarel and views/orders.quarel, with a file that is not Quarel."""
    write(tmp_path / "views" / "users.quarel", USERS)
    write(tmp_path / "views" / "sub" / "orders.quarel", ORDERS)
    write(tmp_path / "views" / "notes.txt", "not: [quarel")
    return tmp_path / "views"


def changed(before, after):
    """USERS with one line (or a run of lines) replaced."""
    assert before in USERS
    return USERS.replace(before, after, 1)


# (arguments, status, standard output, standard error); {u} and {o} stand for the files.
U, O = "views/users.quarel", "views/sub/orders.quarel"
GET = [
    (["view:users/dimension:id/sql", U], 0, "${TABLE}.id\n", ""),
    (["view:users/measure:count/filters", U], 0, '[{"status": "active"}, {"tier": "gold"}]\n', ""),
    # A block at the left margin; the string's second line keeps its own spaces.
    (
        ["view/dimension:email_id", U],
        0,
        'dimension: email_id {\n  label: "Mail\n    address"\n}\n',
        "",
    ),
    (["view:*/dimension:*_id/label", "views"], 0, f"{U}: Mail\n{U}:     address\n", ""),
    (["view:*/dimension:[iu]*/type", "views"], 0, f"{U}: number\n{O}: number\n", ""),
    (["dimen\\*", U], 1, "", f"quarel: `dimen\\*` matches nothing in {U}\n"),
    (["view:users/label/x", U], 1, "", f"quarel: `view:users/label/x` matches nothing in {U}\n"),
    (["a", "missing.quarel", U], 2, "", "missing.quarel: error: No such file or directory\n"),
]


TREE = "a*b: 1\na/b: 2\naxb: 3\nv: one { k: 4 }\nv: two { k: 5 n: { k: 6 } }\nv: { k: 7 }\n"


@pytest.mark.parametrize(
    "text,values",
    [
        ("a*b", ["1", "2", "3"]),
        ("a\\*b", ["1"]),
        ("a\\/b", ["2"]),
        ("a[!*\\/]b", ["3"]),
        ("?", [None, None, None]),
        ("v/k", ["4", "5", "7"]),
        ("v:*/k", ["4", "5"]),
        ("v:t??/*/k", ["6"]),
        ("v:[a-o]*/k", ["4"]),
        ("*/*/*", ["6"]),
    ],
)
def test_selectors(text, values):
    assert [pair.value for pair in Selector(text).select(parse_quarel(TREE))] == values


@pytest.mark.parametrize("text", ["", "a//b", ":n", "a:", "a\\b", "a\\"])
def test_bad_selectors(text):
    with pytest.raises(ValueError):
        Selector(text)


@pytest.mark.parametrize("args,status,out,err", GET)
def test_get(quarel, views, args, status, out, err):
    assert quarel("get", *args) == (status, out, err)


def test_get_document_and_json(quarel, views):
    assert quarel("get", "/", U) == (0, USERS, "")
    status, out, _ = quarel("json", U, "--select", "view:users/measure:count/filters")
    assert json.loads(out) == [
        {
            "key": "filters",
            "name": None,
            "kind": "list",
            "value": [{"status": "active"}, {"tier": "gold"}],
            "children": [],
        }
    ]
    status, out, _ = quarel("json", "views")
    assert sorted(json.loads(out)) == [O, U]
    assert [child["key"] for child in json.loads(out)[U][0]["children"]] == [
        "label",
        "dimension",
        "dimension",
        "measure",
    ]


# (command and arguments before the path, the text of USERS that changes, what it becomes)
EDITS = [
    (["set", "view:users/label", "All users"], '"Users"', '"All users"'),
    (["set", "view/dimension:i?/type", "string"], "    type: number\n", "    type: string\n"),
    (["set", "view/dimension:id/type", "7", "--kind", "string"], "type: number", 'type: "7"'),
    (["set", "view/measure:count/drill_fields", '["id", "name"]'], "[id, email]", "[id, name]"),
    (
        ["set", "view/measure:count/filters", '{"status": "closed"}'],
        '[status: "active", tier: gold]',
        '[status: "closed"]',
    ),
    # A plain key that a matching block lacks is added.
    (
        ["set", "view/dimension:id/hidden", "yes"],
        "${TABLE}.id ;;\n",
        "${TABLE}.id ;;\n    hidden: yes\n",
    ),
    (
        ["rm", "view/dimension:email_id"],
        "\n  # The account's mail.\n  dimension: email_id {\n    label: \"Mail\n"
        '    address"\n  }\n',
        "",
    ),
    (["rename", "view/measure:count", "measure:total"], "measure: count", "measure: total"),
    (["rename", "view/dimension:?d", "dim"], "dimension: id", "dim: id"),
    (
        ["add", "view:users", "--source", "hidden: yes", "--index", "1"],
        '"Users"\n',
        '"Users"\n  hidden: yes\n',
    ),
    (["add", "/", "--source", "connection: db"], "  }\n}\n", "  }\n}\nconnection: db\n"),
    (
        ["comment", "view/dimension:email_id", "--set", "Mail.", "--set", "# Twice."],
        "# The account's mail.",
        "# Mail.\n  # Twice.",
    ),
    (["comment", "view/dimension:email_id", "--clear"], "  # The account's mail.\n", ""),
]


@pytest.mark.parametrize("args,before,after", EDITS)
def test_edits(quarel, views, args, before, after):
    expected = changed(before, after)
    assert quarel(*args, U) == (0, expected, "")
    assert quarel(*args, U, "-i") == (0, "", "")
    assert (views / "users.quarel").read_text() == expected


@pytest.mark.parametrize(
    "args,status,err",
    [
        (
            ["set", "view/dimension:id/type", "a b", "--kind", "literal"],
            2,
            '"a b" is not a valid Quarel literal',
        ),
        (["set", "view/dimension:id/sql", "a ;; b"], 2, "an expression cannot contain `;;`"),
        (
            ["set", "view/measure:count/drill_fields", "id"],
            2,
            'a list value is a JSON array, such as ["a", "b"]',
        ),
        (["set", "view/dimension:id", "x"], 2, "`dimension` is a block; give --kind to replace it"),
        (["set", "view/label/type", "x"], 1, "`label` is a string, not a block"),
        (["add", "view/label", "--source", "a: 1"], 1, "`label` is a string, not a block"),
        (["add", "/", "--source", "a: 1", "--index", "-9"], 2, "--index -9 is out of range"),
        (["rename", "view", "a b"], 2, '"a b" is not a valid Quarel key'),
    ],
)
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
    assert (
        out
        == f"==> {U} <==\n"
        + changed("  dimension: id {\n    type: number\n    sql: ${TABLE}.id ;;\n  }\n\n", "")
        + f"==> {O} <==\n{ORDERS}"
    )
    assert quarel("comment", "view/dimension:*", "views") == (
        0,
        f"{U}: # The account's mail.\n",
        "",
    )


REPORT = "shop.quarel:1:3: expected a value\n"


@pytest.mark.parametrize(
    "args,out,err",
    [
        (["check", "views", "shop.quarel"], REPORT, ""),
        (["check", "-j", "2", "views", "shop.quarel"], REPORT, ""),
        (["get", "a", "shop.quarel", "views"], "", REPORT),
    ],
)
def test_syntax_errors_are_reported_by_line_and_column(quarel, views, tmp_path, args, out, err):
    write(tmp_path / "shop.quarel", "a:")
    assert quarel(*args) == (1, out, err)


@pytest.mark.parametrize(
    "data,status,err",
    [
        (None, 2, "{f}: error: No such file or directory"),
        (b"a: \xff\n", 2, "{f}: error: not valid UTF-8 (byte 3)"),
        (b"\xed\xa0\x80: b\n", 2, "{f}: error: not valid UTF-8 (byte 0)"),
        (b"a: 1\nb\n", 1, "{f}:2:2: expected `:` after key"),
    ],
)
def test_unreadable_files(quarel, tmp_path, data, status, err):
    path = tmp_path / "f.quarel"
    if data is not None:
        path.write_bytes(data)
    for command in (["get", "a"], ["rm", "a", "-i"]):
        assert quarel(*command, path) == (status, "", err.format(f=path) + "\n")
    assert quarel("check", path) == (
        status,
        *((err.format(f=path) + "\n", "")[:: 1 if status == 1 else -1]),
    )


@pytest.mark.parametrize(
    "args",
    [
        ["set", "a", "f.quarel"],  # set without a value
        ["get", ":x", "f.quarel"],
        ["get", "a:", "f.quarel"],
        ["get", "a\\b", "f.quarel"],
        ["rm", "/", "f.quarel"],
        ["add", "a", "f.quarel"],
        ["rename", "a", "b:", "f.quarel"],
        ["comment", "a", "f.quarel", "--set", "x", "--clear"],
        ["comment", "a", "f.quarel", "-i"],
        ["add", "/", "f.quarel", "--source", "a: {"],
        ["apply", "missing.py", "f.quarel"],
        ["get"],
        [],
    ],
)
def test_usage_errors(quarel, tmp_path, args):
    write(tmp_path / "f.quarel", "a: 1\n")
    status, out, err = quarel(*args)
    assert (status, out) == (1 if "a: {" in args else 2, "")
    assert err.startswith("usage: quarel") or len(err.splitlines()) == 1
    assert (tmp_path / "f.quarel").read_text() == "a: 1\n"


def test_version(quarel):
    status, out, _ = quarel("--version")
    assert (status, out) == (0, "quarel 0.1.0\n")


SCRIPT = """
def edit(doc, path):
    if "bad" in path:
        raise RuntimeError("no thanks")
    doc["b"] = "2"
"""


@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize(
    "options,status,written,summary",
    [
        ([], 1, False, "2 would change, 1 unchanged, 1 failed"),
        (["--check"], 1, False, "2 would change, 1 unchanged, 1 failed"),
        (["-i"], 1, True, "2 changed, 1 unchanged, 1 failed"),
        (["-i", "--all-or-nothing"], 1, False, "2 would change, 1 unchanged, 1 failed"),
    ],
)
def test_apply(quarel, tmp_path, jobs, options, status, written, summary):
    (tmp_path / "script.py").write_text(SCRIPT)
    names = ["x.quarel", "y.quarel", "same.quarel", "bad.quarel"]
    for name in names:
        write(tmp_path / "d" / name, "b: 2\n" if name == "same.quarel" else "a: 1\n")
    result = quarel("apply", "script.py", "d", "-j", jobs, *options)
    assert result == (
        status,
        "d/x.quarel\nd/y.quarel\n",
        f"d/bad.quarel: RuntimeError: no thanks\n{summary}\n",
    )
    assert (tmp_path / "d" / "x.quarel").read_text() == ("a: 1\nb: 2\n" if written else "a: 1\n")
    assert (tmp_path / "d" / "bad.quarel").read_text() == "a: 1\n"


def test_apply_all_or_nothing_writes_when_all_succeed(quarel, tmp_path):
    (tmp_path / "script.py").write_text(SCRIPT)
    write(tmp_path / "x.quarel", "a: 1\n")
    assert quarel("apply", "script.py", "x.quarel", "-i", "--all-or-nothing")[0] == 0
    assert (tmp_path / "x.quarel").read_bytes() == b"a: 1\nb: 2\n"
    assert quarel("apply", "script.py", "x.quarel", "--check") == (
        0,
        "",
        "0 would change, 1 unchanged, 0 failed\n",
    )


@pytest.mark.parametrize(
    "args",
    [["set", "k", "v"], ["set", "b", '["z"]'], ["add", "/", "--source", "k: v"], ["rm", "k"]],
)
@pytest.mark.parametrize("ending", ["\r\n", ""], ids=["crlf", "no-final-newline"])
def test_line_endings_survive_in_place_edits(quarel, tmp_path, args, ending):
    source = "\ufeffa: 1\r\nb: [x,\r\n  y]\r\n# note\r\nk: é" + ending
    path = tmp_path / "c.quarel"
    path.write_bytes(source.encode())
    assert quarel(*args, path, "--in-place") == (0, "", "")
    after = path.read_bytes()
    assert after.startswith(b"\xef\xbb\xbfa: 1\r\n")
    assert after.count(b"\n") == after.count(b"\r\n")
    assert after.endswith(b"\r\n") == (ending == "\r\n")


@settings(max_examples=50, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents())
def test_in_place_edits_write_exactly_what_the_document_prints(source):
    doc = loads(source.encode())  # as the command reads the file: a leading U+FEFF is its mark
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


def test_standard_input_and_utf8_output(tmp_path):
    result = run_quarel(
        "set", "名前", "値", "-", input="名前: 1\r\n".encode(), env={"PYTHONIOENCODING": "ascii"}
    )
    assert result.stdout == '名前: "値"\r\n'.encode()
    refused = run_quarel("rm", "a", "-", "--in-place", input=b"a: 1\n")
    assert (refused.returncode, refused.stderr) == (2, b"<stdin>: error: --in-place needs a file\n")


def test_closed_full_and_interrupted_output(tmp_path, monkeypatch, quarel):
    path = write(tmp_path / "big.quarel", "a: 1\n" * 100_000)
    with open(os.devnull, "rb") as nothing:
        closed = subprocess.run(
            f"{sys.executable} -m tallix_cst get a {path} | head -c 1 >/dev/null; exit ${{PIPESTATUS[0]}}",
            shell=True,
            executable="/bin/bash",
            stdin=nothing,
            capture_output=True,
            timeout=60,
        )
    assert (closed.returncode, closed.stderr) == (2, b"quarel: error: the output was closed\n")
    with open("/dev/full", "wb") as full:
        result = run_quarel("get", "/", path, stdout=full, stderr=subprocess.PIPE)
    assert (result.returncode, result.stderr) == (
        2,
        b"quarel: error: cannot write the output: No space left on device\n",
    )

    def interrupt(*args):
        raise KeyboardInterrupt

    monkeypatch.setattr(cli, "read", interrupt)
    assert quarel("get", "a", path) == (130, "", "quarel: interrupted\n")
