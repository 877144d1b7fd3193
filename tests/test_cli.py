"""`quarel`: every command's output and exit status, run as a real process."""

import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest
from hypothesis import HealthCheck, assume, given, settings

from strategies import documents
from tallix_cst import cli as quarel_cli
from tallix_cst import parse_quarel

QUAREL_SCRIPT = Path(sys.executable).parent / ("quarel.exe" if os.name == "nt" else "quarel")

GOOD = "view: users {\n  dimension: id {\n    type: number\n  }\n}\n"


@pytest.fixture(params=["module", "script"])
def quarel(request, tmp_path):
    if request.param == "module":
        prefix = [sys.executable, "-m", "tallix_cst"]
    else:
        if not QUAREL_SCRIPT.exists():
            pytest.skip("the quarel console script is not installed next to this interpreter")
        prefix = [str(QUAREL_SCRIPT)]

    # Run outside the source tree so only the installed package is importable.
    def run(*args):
        return subprocess.run(
            prefix + [str(a) for a in args],
            capture_output=True,
            text=True,
            encoding="utf-8",
            cwd=tmp_path,
            timeout=60,
        )

    return run


def write(path: Path, text: str) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(text.encode("utf-8"))
    return path


def test_all_files_parse(quarel, tmp_path):
    a = write(tmp_path / "a.quarel", GOOD)
    b = write(tmp_path / "b.quarel", "")
    result = quarel("check", a, b)
    assert result.returncode == 0, result.stderr
    assert result.stdout == ""


def test_crlf_and_non_ascii_files_parse(quarel, tmp_path):
    crlf = write(tmp_path / "crlf.quarel", GOOD.replace("\n", "\r\n"))
    text = write(tmp_path / "名前.quarel", "名前: \"値\" # コメント\r\n")
    result = quarel("check", crlf, text)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize(
    "source,location,message",
    [
        ("a:", "1:3", "expected a value"),
        ("a: 1\nb\n", "2:2", "expected `:` after key"),
        ("a: 1\r\nb\r\n", "2:2", "expected `:` after key"),
        ("é\n", "1:3", "expected `:` after key"),
        ("sql: select 1\n", "1:5", "expression is missing its `;;` terminator"),
        ("x: [a b]", "1:7", "expected `,` or `]` in list"),
    ],
)
def test_syntax_error_report(quarel, tmp_path, source, location, message):
    good = write(tmp_path / "good.quarel", GOOD)
    bad = write(tmp_path / "bad.quarel", source)
    result = quarel("check", good, bad)
    assert result.returncode == 1
    assert result.stdout.splitlines() == [f"{bad}:{location}: {message}"]


def test_every_failing_file_is_reported(quarel, tmp_path):
    one = write(tmp_path / "one.quarel", "}")
    two = write(tmp_path / "two.quarel", "a: {")
    result = quarel("check", one, two)
    assert result.returncode == 1
    assert set(result.stdout.splitlines()) == {
        f"{one}:1:1: expected a `key:` pair",
        f"{two}:1:5: expected `}}` or a `key:` pair",
    }


def test_directories_are_searched_recursively_for_quarel_files(quarel, tmp_path):
    write(tmp_path / "top.quarel", GOOD)
    deep = write(tmp_path / "sub" / "deeper" / "bad.quarel", "a:")
    # Only *.quarel files are read, however broken the rest are.
    write(tmp_path / "notes.txt", "not: [quarel")
    write(tmp_path / "sub" / "bad.quarel.bak", "a:")
    (tmp_path / "sub" / "binary.dat").write_bytes(b"\xff\xfe")
    result = quarel("check", tmp_path)
    assert result.returncode == 1, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 1
    reported = lines[0].rsplit(":1:3: ", 1)
    assert reported[1] == "expected a value"
    assert Path(reported[0]).resolve() == deep.resolve()


def test_named_files_are_checked_whatever_their_extension(quarel, tmp_path):
    bad = write(tmp_path / "config.txt", "a:")
    result = quarel("check", bad)
    assert result.returncode == 1
    assert result.stdout.splitlines() == [f"{bad}:1:3: expected a value"]


def test_directory_of_valid_files(quarel, tmp_path):
    write(tmp_path / "a" / "x.quarel", GOOD)
    write(tmp_path / "b" / "y.quarel", "k: v\n")
    result = quarel("check", tmp_path)
    assert (result.returncode, result.stdout) == (0, "")


def test_missing_file(quarel, tmp_path):
    missing = tmp_path / "absent.quarel"
    result = quarel("check", missing)
    assert result.returncode == 2
    lines = result.stderr.splitlines()
    assert len(lines) == 1
    assert str(missing) in lines[0]


def test_missing_file_does_not_stop_the_others(quarel, tmp_path):
    missing = tmp_path / "absent.quarel"
    bad = write(tmp_path / "bad.quarel", "a:")
    result = quarel("check", missing, bad)
    assert result.returncode == 2
    assert result.stdout.splitlines() == [f"{bad}:1:3: expected a value"]


@pytest.mark.parametrize(
    "data", [b"a: \xff\n", b"a: \xc3\n", b"\xed\xa0\x80: b\n"], ids=["ff", "truncated", "surrogate"]
)
def test_invalid_utf8(quarel, tmp_path, data):
    path = tmp_path / "latin.quarel"
    path.write_bytes(data)
    result = quarel("check", path)
    assert result.returncode == 2
    lines = result.stderr.splitlines()
    assert len(lines) == 1
    assert str(path) in lines[0]
    assert result.stdout == ""


@pytest.mark.parametrize("args", [["check"], []], ids=["no-paths", "no-command"])
def test_usage_errors(quarel, args):
    result = quarel(*args)
    assert result.returncode == 2
    assert result.stderr != ""


# Reading and editing commands. These run through `python -m tallix_cst` only and compare
# bytes, so that carriage returns and missing final line breaks are seen as they are.

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
    "  measure: count {\n"
    "    drill_fields: [id, email]\n"
    '    filters: [status: "active", tier: gold]\n'
    "  }\n"
    "}\n"
)


def cli(tmp_path, *args, stdin=b""):
    return subprocess.run(
        [sys.executable, "-m", "tallix_cst", *[str(a) for a in args]],
        input=stdin,
        capture_output=True,
        cwd=tmp_path,
        timeout=60,
    )


@pytest.fixture
def users(tmp_path):
    return write(tmp_path / "users.quarel", USERS)


@pytest.mark.parametrize(
    "path,printed",
    [
        (["view:users", "label"], "Users\n"),
        (["view:users", "dimension:id", "sql"], "${TABLE}.id\n"),
        (["view:users", "measure:count", "drill_fields"], '["id", "email"]\n'),
        (["view:users", "measure:count", "filters"], '[{"status": "active"}, {"tier": "gold"}]\n'),
        # A block prints as its source, moved out to the left margin.
        (["view:users", "dimension:id"], "dimension: id {\n  type: number\n  sql: ${TABLE}.id ;;\n}\n"),
        (["view", "dimension"], "dimension: id {\n  type: number\n  sql: ${TABLE}.id ;;\n}\n"),
    ],
)
def test_get(tmp_path, users, path, printed):
    result = cli(tmp_path, "get", users, *path)
    assert (result.returncode, result.stdout.decode(), result.stderr) == (0, printed, b"")


@pytest.mark.parametrize(
    "path,message",
    [
        (["view:orders"], "no `view:orders` in the document"),
        (["view:users", "dimension:email", "type"], "no `dimension:email` in `view:users`"),
        (["view:users", "label", "x"], "`label` is a string, not a block"),
    ],
)
def test_get_missing_path(tmp_path, users, path, message):
    result = cli(tmp_path, "get", users, *path)
    assert result.returncode == 1
    assert result.stdout == b""
    assert result.stderr.decode() == f"{users}: error: {message}\n"


# (arguments after FILE, the line of USERS that changes, what it becomes)
SET_CASES = [
    (["view:users", "label", "All users"], '  label: "Users"', '  label: "All users"'),
    (["view:users", "dimension:id", "type", "string"], "    type: number", "    type: string"),
    # A literal that cannot stand bare is quoted; --kind forces a kind.
    (["view:users", "dimension:id", "type", "a b"], "    type: number", '    type: "a b"'),
    (["view:users", "dimension:id", "type", "7", "--kind", "string"], "    type: number", '    type: "7"'),
    (
        ["view:users", "dimension:id", "sql", " ${TABLE}.pk "],
        "    sql: ${TABLE}.id ;;",
        "    sql: ${TABLE}.pk ;;",
    ),
    # Lists are JSON, pairs in them one-key objects.
    (
        ["view:users", "measure:count", "drill_fields", '["id", "name"]'],
        "    drill_fields: [id, email]",
        "    drill_fields: [id, name]",
    ),
    (
        ["view:users", "measure:count", "filters", '{"status": "closed"}'],
        '    filters: [status: "active", tier: gold]',
        '    filters: [status: "closed"]',
    ),
    (
        ["view:users", "dimension:id", "type", '["a", {"k": "v"}]', "--kind", "list"],
        "    type: number",
        '    type: [a, k: "v"]',
    ),
    # A missing last segment is added to its block.
    (
        ["view:users", "dimension:id", "hidden", "yes"],
        "    sql: ${TABLE}.id ;;",
        "    sql: ${TABLE}.id ;;\n    hidden: yes",
    ),
]


@pytest.mark.parametrize("args,line,changed", SET_CASES)
def test_set(tmp_path, users, args, line, changed):
    result = cli(tmp_path, "set", users, *args)
    assert result.returncode == 0, result.stderr
    assert result.stdout.decode() == USERS.replace(line + "\n", changed + "\n", 1)
    assert users.read_text() == USERS


@pytest.mark.parametrize(
    "args,status,message",
    [
        (["view:users", "dimension:id", "type", "a b", "--kind", "literal"], 2,
         '"a b" is not a valid Quarel literal'),
        (["view:users", "dimension:id", "sql", "a ;; b"], 2, "an expression cannot contain `;;`"),
        (["view:users", "measure:count", "drill_fields", "id"], 2,
         'a list value is a JSON array, such as ["a", "b"]'),
        (["view:users", "dimension:id", "x"], 2, "`dimension` is a block; give --kind to replace it"),
        (["view:users", "dimension:age", "x"], 1, "no `dimension:age` in `view:users`"),
        (["view:users", "label", "type", "x"], 1, "`label` is a string, not a block"),
    ],
)
def test_failed_edit_leaves_the_file_alone(tmp_path, users, args, status, message):
    before = users.stat()
    result = cli(tmp_path, "set", "--in-place", users, *args)
    assert (result.returncode, result.stdout) == (status, b"")
    assert result.stderr.decode() == f"{users}: error: {message}\n"
    assert users.read_text() == USERS
    assert users.stat().st_mtime_ns == before.st_mtime_ns
    assert sorted(p.name for p in tmp_path.iterdir()) == ["users.quarel"]


def test_add_and_rm(tmp_path, users):
    snippet = "dimension: age {\n  type: number\n}"
    added = cli(tmp_path, "add", users, "view:users", "--index", "1", "--source", snippet)
    assert added.returncode == 0, added.stderr
    assert added.stdout.decode() == USERS.replace(
        "\n  dimension: id {", "\n  dimension: age {\n    type: number\n  }\n\n  dimension: id {"
    )
    top = cli(tmp_path, "add", users, "--source", "connection: db")
    assert top.stdout.decode() == USERS + "connection: db\n"
    removed = cli(tmp_path, "rm", users, "view:users", "dimension:id")
    assert removed.stdout.decode() == USERS.replace(
        "\n  dimension: id {\n    type: number\n    sql: ${TABLE}.id ;;\n  }\n", ""
    )


@pytest.mark.parametrize(
    "args,status,stderr",
    [
        (["--source", "a: {"], 1, "<source>:1:5: expected `}` or a `key:` pair"),
        (["--source", "a: 1", "--index", "-5"], 2, "{file}: error: --index -5 is out of range"),
        (["view:users", "label", "--source", "a: 1"], 1, "{file}: error: `label` is a string, not a block"),
    ],
)
def test_add_errors(tmp_path, users, args, status, stderr):
    result = cli(tmp_path, "add", "-i", users, *args)
    assert result.returncode == status
    assert result.stderr.decode() == stderr.replace("{file}", str(users)) + "\n"
    assert users.read_text() == USERS


def test_json(tmp_path, users):
    result = cli(tmp_path, "json", users)
    (view,) = json.loads(result.stdout)
    assert [(p["key"], p["name"], p["kind"]) for p in view["children"]] == [
        ("label", None, "string"),
        ("dimension", "id", "block"),
        ("measure", "count", "block"),
    ]
    filters = cli(tmp_path, "json", users, "view:users", "measure:count", "filters")
    assert json.loads(filters.stdout) == {
        "key": "filters",
        "name": None,
        "kind": "list",
        "value": [{"status": "active"}, {"tier": "gold"}],
        "children": [],
    }


@pytest.mark.parametrize(
    "args",
    [
        ["set", "k", "v"],
        ["set", "b", '["z"]'],
        ["add", "--source", "k: v"],
        ["rm", "k"],
    ],
)
@pytest.mark.parametrize("ending", ["\r\n", ""], ids=["crlf", "no-final-newline"])
def test_line_endings_survive_in_place_edits(tmp_path, args, ending):
    source = "a: 1\r\nb: [x,\r\n  y]\r\n# note\r\nk: é" + ending
    path = tmp_path / "c.quarel"
    path.write_bytes(source.encode())
    path.chmod(0o640)
    result = cli(tmp_path, args[0], "--in-place", path, *args[1:])
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    after = path.read_bytes()
    assert after.startswith(b"a: 1\r\n")
    assert after.count(b"\n") == after.count(b"\r\n")
    assert after.endswith(b"\r\n") == (ending == "\r\n")
    assert path.stat().st_mode & 0o777 == 0o640
    assert sorted(p.name for p in tmp_path.iterdir()) == ["c.quarel"]


def test_diff(tmp_path):
    path = write(tmp_path / "d.quarel", "a: 1\r\nb: 2")
    result = cli(tmp_path, "set", "--diff", path, "b", "3")
    assert result.stdout.decode() == (
        f"--- a/{path}\n+++ b/{path}\n@@ -1,2 +1,2 @@\n a: 1\r\n-b: 2\n\\ No newline at end of file\n"
        "+b: 3\n\\ No newline at end of file\n"
    )
    both = cli(tmp_path, "set", "--diff", "--in-place", path, "b", "3")
    assert both.stdout == result.stdout
    assert path.read_bytes() == b"a: 1\r\nb: 3"


@settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents())
def test_in_place_edits_write_exactly_what_the_document_prints(source):
    doc = parse_quarel(source)
    assume(len(doc) > 0)
    key = doc.children[0].key
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "f.quarel"
        path.write_bytes(source.encode())
        # `--` since a key may begin with a dash.
        assert quarel_cli.main(["set", "-i", "--kind", "expr", "--", str(path), key, "x;;y"]) == 2
        assert path.read_bytes() == source.encode()
        assert quarel_cli.main(["rm", "-i", "--", str(path), key]) == 0
        doc.children[0].detach()
        assert path.read_bytes() == doc.to_string().encode()


def test_output_is_utf8_whatever_the_locale(tmp_path, monkeypatch):
    monkeypatch.setenv("PYTHONIOENCODING", "ascii")
    path = write(tmp_path / "名前.quarel", '名前: "値 \\"x\\""\r\nb: 1\r\n')
    assert cli(tmp_path, "get", path, "名前").stdout == '値 "x"\n'.encode()
    diff = cli(tmp_path, "rm", path, "名前", "--diff").stdout.decode()
    assert diff.split("\n")[-3:] == ['-名前: "値 \\"x\\""\r', " b: 1\r", ""]


def test_in_place_writes_through_a_symlink(tmp_path):
    real = write(tmp_path / "real.quarel", "a: 1\n")
    link = tmp_path / "link.quarel"
    link.symlink_to(real.name)
    assert cli(tmp_path, "set", "-i", link, "a", "2").returncode == 0
    assert link.is_symlink()
    assert real.read_text() == "a: 2\n"


def test_standard_input(tmp_path):
    result = cli(tmp_path, "set", "-", "a", "2", stdin=b"a: 1\r\n")
    assert result.stdout == b"a: 2\r\n"
    refused = cli(tmp_path, "rm", "--in-place", "-", "a", stdin=b"a: 1\n")
    assert refused.returncode == 2


@pytest.mark.parametrize("command", [["get", "{file}", "a"], ["json", "{file}"], ["rm", "{file}", "a"]])
@pytest.mark.parametrize(
    "data,status,stderr",
    [
        (None, 2, "{file}: error: No such file or directory"),
        (b"a: \xff\n", 2, "{file}: error: not valid UTF-8 (byte 3)"),
        (b"a: 1\nb\n", 1, "{file}:2:2: expected `:` after key"),
    ],
    ids=["missing", "not-utf8", "syntax-error"],
)
def test_unreadable_files(tmp_path, command, data, status, stderr):
    path = tmp_path / "f.quarel"
    if data is not None:
        path.write_bytes(data)
    result = cli(tmp_path, *[a.format(file=path) for a in command])
    assert (result.returncode, result.stdout) == (status, b"")
    assert result.stderr.decode() == stderr.format(file=path) + "\n"


@pytest.mark.parametrize(
    "args",
    [
        ["get", "f.quarel", ":x"],
        ["get", "f.quarel", "a:"],
        ["set", "f.quarel", "a"],
        ["rm", "f.quarel"],
        ["add", "f.quarel"],
    ],
)
def test_edit_usage_errors(tmp_path, args):
    write(tmp_path / "f.quarel", "a: 1\n")
    result = cli(tmp_path, *args)
    assert result.returncode == 2
    assert result.stderr.startswith(b"usage: quarel")


def test_parallel_check_reports_like_a_single_process(tmp_path):
    for i in range(40):
        write(tmp_path / f"{i:02}.quarel", "a:" if i % 7 == 0 else GOOD)
    (tmp_path / "13.quarel").write_bytes(b"\xff")
    one, many = (cli(tmp_path, "check", "-j", jobs, ".") for jobs in (1, 3))
    assert one.returncode == many.returncode == 2
    assert one.stdout == many.stdout
    assert len(one.stdout.splitlines()) == 6
    assert one.stderr == many.stderr != b""
