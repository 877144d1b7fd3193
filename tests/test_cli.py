"""`quarel check`: exit status and report lines, run as a real process."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

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
