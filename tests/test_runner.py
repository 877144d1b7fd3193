"""The one runner of the bulk commands, one table over all of them: files named twice, a file
that does not parse, a file that may not be written, and --all-or-nothing. Then the walk of
folders, with what it passes over."""

import os
import subprocess
from pathlib import Path

import pytest
from conftest import run_quarel, write

from tallix_cst import walk

pytestmark = pytest.mark.timeout(120)
BEFORE = "a:  1\n"
# Each bulk command as it writes, and as it only shows; the text of BEFORE after one edit.
COMMANDS = {
    "set": (["set", "a", "2", "-i"], ["set", "a", "2"], "a:  2\n"),
    "add": (["add", "/", "--source", "n: 1", "-i"], ["add", "/", "--source", "n: 1"], "a:  1\nn: 1\n"),
    "rm": (["rm", "a", "-i"], ["rm", "a", "--diff"], "\n"),
    "rename": (["rename", "a", "b", "-i"], ["rename", "a", "b", "--diff"], "b:  1\n"),
    "comment": (["comment", "a", "--set", "c", "-i"], ["comment", "a", "--set", "c"], "# c\na:  1\n"),
    "fmt": (["fmt"], ["fmt", "--diff"], "a: 1\n"),
    "apply": (["apply", "script.py", "-i", "-j", "2"], ["apply", "script.py", "--diff", "-j", "1"], "a:  1\nn: 1\n"),
    "check": (["check"], ["check", "--output-format", "json"], BEFORE),
}
WRITES = [name for name in COMMANDS if name != "check"]
NO_LIST = "d/bad.quarel:2:1: expected a list element\n"


@pytest.fixture
def project(tmp_path):
    write(tmp_path / "script.py", "def edit(doc, path):\n    doc.add('n', str(len(doc)))\n")
    for name in ["one", "two"]:
        write(tmp_path / "d" / f"{name}.quarel", BEFORE)
    return tmp_path


def texts(folder):
    return {p.name: p.read_text() for p in sorted(folder.glob("*.quarel"))}


# Named again, through a folder, a symbolic link and a hard link, a file is worked on once:
# the output is that of each file named once, and the file is edited once.
@pytest.mark.parametrize("command", COMMANDS)
def test_a_file_named_twice_counts_once(quarel, project, command):
    writes, shows, after = COMMANDS[command]
    os.symlink("d/one.quarel", "link.quarel")
    os.link("d/two.quarel", "hard.quarel")
    once = quarel(*shows, "d/one.quarel", "d/two.quarel")
    assert quarel(*shows, "d/one.quarel", "d", "./d/one.quarel", "link.quarel", "hard.quarel", "d/two.quarel") == once
    assert quarel(*writes, "d/one.quarel", "d", "link.quarel", "hard.quarel")[0] == 0
    assert texts(project / "d") == {"one.quarel": after, "two.quarel": after}


# A file that does not parse is reported once, as path:line:column: message, with status 1;
# the others are still worked on, and it is left as it was.
@pytest.mark.parametrize("command", COMMANDS)
def test_a_file_that_does_not_parse(quarel, project, command):
    writes, _, after = COMMANDS[command]
    write(project / "d" / "bad.quarel", "a: [\n")
    status, out, err = quarel(*writes, "d")
    assert status == 1
    assert (out + err).count(NO_LIST) == 1
    assert texts(project / "d") == {"bad.quarel": "a: [\n", "one.quarel": after, "two.quarel": after}


# A file that may not be written is refused before it is read (status 2), the others are
# written; a command that only reads is not concerned.
@pytest.mark.parametrize("command", COMMANDS)
def test_a_file_that_may_not_be_written(quarel, project, monkeypatch, command):
    writes, _, after = COMMANDS[command]
    locked = (project / "d" / "one.quarel").resolve()
    access = os.access  # root may write any file: refuse this one as for anyone else
    monkeypatch.setattr(os, "access", lambda path, mode: access(path, mode) and not (mode & os.W_OK and Path(path).resolve() == locked))
    status, out, err = quarel(*writes, "d")
    refused = "d/one.quarel: error: permission denied: the file is not writable\n"
    assert (status, err.count(refused)) == ((0, 0) if command == "check" else (2, 1))
    assert texts(project / "d") == {"one.quarel": BEFORE if command != "check" else after, "two.quarel": after}


# --all-or-nothing: a failure anywhere writes nothing (and says what would have changed);
# with none, everything is written.
@pytest.mark.parametrize("command", WRITES)
def test_all_or_nothing(quarel, project, command):
    writes, _, after = COMMANDS[command]
    write(project / "d" / "bad.quarel", "a: [\n")
    would, did = {"fmt": ("would reformat", "reformatted"), "apply": ("would change", "changed")}.get(command, ("", ""))
    status, out, err = quarel(*writes, "--all-or-nothing", "d")
    assert status == 1 and NO_LIST in out + err and err.endswith(f"2 {would}, 0 unchanged, 1 failed\n" if would else "")
    assert texts(project / "d") == {"bad.quarel": "a: [\n", "one.quarel": BEFORE, "two.quarel": BEFORE}
    (project / "d" / "bad.quarel").unlink()
    status, out, err = quarel(*writes, "--all-or-nothing", "d")
    assert status == 0 and err.endswith(f"2 {did}, 0 unchanged, 0 failed\n" if did else "")
    assert texts(project / "d") == {"one.quarel": after, "two.quarel": after}
    if command == "fmt":  # nothing to write, nothing failed: all is written
        assert quarel(*writes, "--all-or-nothing", "d")[2] == "0 reformatted, 2 unchanged, 0 failed\n"


# The walk: (files and folders of a project, the *.quarel files `quarel_files(["p"])` finds).
WALKS = [
    # The usual folders are passed over, at any depth; a file of that name is not a folder.
    ({"a.quarel", ".git/x.quarel", "node_modules/m/x.quarel", "s/build/x.quarel", "s/.venv/x.quarel", "dist.quarel"},
     {"p/a.quarel", "p/dist.quarel"}),
    # .gitignore, with its negations, in the folder walked and in those below it.
    ({"a.quarel", "gen/x.quarel", "s/x.quarel", "s/y.quarel", "s/.gitignore:*.quarel\n!y.quarel", ".gitignore:gen/"},
     {"p/a.quarel", "p/s/y.quarel"}),
    # exclude replaces the usual folders; extend-exclude adds to them; patterns are the
    # configuration folder's.
    ({"a.quarel", "build/x.quarel", "old/x.quarel", "s/old/x.quarel", "quarel.toml:exclude = [\"/old/\"]"},
     {"p/a.quarel", "p/build/x.quarel", "p/s/old/x.quarel"}),
    ({"a.quarel", "build/x.quarel", "drafts/x.quarel", "pyproject.toml:[tool.quarel]\nextend-exclude = [\"drafts\"]"},
     {"p/a.quarel"}),
]


@pytest.mark.parametrize("files,found", WALKS)
def test_the_walk_passes_over_what_is_ignored(tmp_path, monkeypatch, files, found):
    monkeypatch.chdir(tmp_path)
    for entry in files:
        name, _, text = entry.partition(":")
        write(tmp_path / "p" / name, text.replace("\\n", "\n") or "a: 1\n")
    assert set(walk.quarel_files(["p"])) == found
    every = {f"p/{entry.partition(':')[0]}" for entry in files if entry.partition(":")[0].endswith(".quarel")}
    assert set(walk.quarel_files(["p"], ignore=False)) == every


def test_a_configuration_that_cannot_be_read(quarel, tmp_path):
    write(tmp_path / "quarel.toml", "exclude = [\n")
    write(tmp_path / "build" / "x.quarel", "a: 1\n")
    write(tmp_path / "a.quarel", "a: 1\n")
    status, out, err = quarel("get", "a", ".")
    assert (status, out, err.startswith(f"{tmp_path}/quarel.toml: error: ")) == (2, "", True)
    assert list(walk.quarel_files(["."])) == ["./a.quarel"]  # (an editor's index walks on)


def test_a_path_named_is_never_passed_over(quarel, tmp_path):
    subprocess.run(["git", "init", "-q", str(tmp_path)], check=True)
    write(tmp_path / ".gitignore", "ignored/\n*.gen.quarel\n")
    for name in ["ignored/x.quarel", "build/y.quarel", "z.gen.quarel", "ok.quarel"]:
        write(tmp_path / name, "a: 1\n")
    # The .gitignore of the repository's top holds in a folder below it.
    assert list(walk.quarel_files(["ignored/.."])) == ["ignored/../ok.quarel"]
    assert quarel("get", "a", ".") == (0, "1\n", "")
    assert quarel("get", "a", "z.gen.quarel", "ignored", "build") == (0, "z.gen.quarel: 1\nignored/x.quarel: 1\nbuild/y.quarel: 1\n", "")
    assert quarel("get", "a", ".", "--no-ignore")[1].count("\n") == 4


@pytest.mark.parametrize("command", [["check"], ["fmt"], ["get", "a"], ["apply", "script.py"]])
def test_a_folder_without_files_says_so(quarel, tmp_path, command):
    (tmp_path / "empty").mkdir()
    write(tmp_path / "script.py", "def edit(doc, path): pass\n")
    status, out, err = quarel(*command, "empty")
    assert (out, err.splitlines()[0]) == ("", "quarel: no *.quarel files in empty")
    assert status == (1 if command[0] == "get" else 0)


# Diff headers name the file as `git apply` takes it, however the path was given.
@pytest.mark.parametrize("args", [["fmt", "--diff"], ["set", "a", "2", "--diff"], ["apply", "script.py", "--diff"]])
@pytest.mark.parametrize("path", [".", "./d/../d", "{root}/d"])
def test_diffs_apply_with_git(tmp_path, args, path):
    subprocess.run(["git", "init", "-q", str(tmp_path)], check=True)
    write(tmp_path / "script.py", "def edit(doc, path):\n    doc['a'] = '2'\n")
    write(tmp_path / "d" / "f.quarel", "a:  1\n")
    diff = run_quarel(*args, path.format(root=tmp_path), cwd=tmp_path).stdout
    assert diff.startswith(b"--- a/d/f.quarel\n+++ b/d/f.quarel\n"), diff
    subprocess.run(["git", "apply", "-"], input=diff, cwd=tmp_path, check=True)
    assert (tmp_path / "d" / "f.quarel").read_text() in ("a: 1\n", "a:  2\n")
