"""The README's examples and the example scripts run, in a copy of examples/.

The README's ```pycon blocks run in one namespace, top to bottom: a `>>> ` line and its `... `
lines form one statement, and the lines after it, up to the next prompt, are what it
prints. ```console blocks do the same with `$ ` commands (continued by `> ` lines),
each block in a fresh copy, standard output and error together.
"""

import contextlib
import io
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path
from typing import List, Tuple

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")


def blocks(language: str) -> List[str]:
    return re.findall(rf"^```{language}\n(.*?)^```$", README, flags=re.M | re.S)


def examples(block: str, prompt: str, more: str) -> List[Tuple[str, str]]:
    """(source, expected output) for every prompt in the block."""
    found: List[Tuple[List[str], List[str]]] = []
    for line in block.splitlines():
        if line.startswith(prompt):
            found.append(([line[len(prompt) :]], []))
        elif (line + " ").startswith(more) and not found[-1][1]:
            found[-1][0].append(line[len(more) :])
        else:
            found[-1][1].append(line)
    return [("\n".join(source), "".join(f"{line}\n" for line in out)) for source, out in found]


@pytest.fixture
def in_examples(tmp_path, monkeypatch):
    shutil.copytree(ROOT / "examples", tmp_path, dirs_exist_ok=True)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_python_examples(in_examples):
    assert blocks("pycon")
    namespace: dict = {}
    for block in blocks("pycon"):
        for source, expected in examples(block, ">>> ", "... "):
            printed = io.StringIO()
            with contextlib.redirect_stdout(printed):
                exec(compile(source + "\n", "README.md", "single"), namespace)
            assert printed.getvalue() == expected, source


@pytest.mark.parametrize("block", blocks("console"), ids=lambda b: b.split("\n", 1)[0])
def test_command_line_examples(in_examples, block):
    for command, expected in examples(block, "$ ", "> "):
        words = shlex.split(command)
        assert words[0] == "quarel"
        result = subprocess.run([sys.executable, "-m", "tallix_cst", *words[1:]], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, encoding="utf-8", timeout=60)
        assert result.stdout == expected, command


def run_script(name, *args):
    return subprocess.run([sys.executable, name, *args], capture_output=True, text=True, encoding="utf-8", timeout=60)


def test_example_scripts(in_examples):
    views = sorted(str(p.relative_to(in_examples)) for p in in_examples.glob("views/*.quarel"))
    report = run_script("field_report.py", *views)
    assert report.returncode == 0, report.stderr
    assert "users        dimension  signup_date      time" in report.stdout.splitlines()

    first = run_script("hide_ids.py", *views)
    assert first.stdout.splitlines() == ["views/orders.quarel: hid orders.id", "views/users.quarel: hid users.id"]
    after = {v: (in_examples / v).read_text(encoding="utf-8") for v in views}
    again = run_script("hide_ids.py", *views)
    assert (again.returncode, again.stdout) == (0, "")
    assert {v: (in_examples / v).read_text(encoding="utf-8") for v in views} == after
