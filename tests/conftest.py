"""Helpers shared by the test modules."""

import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

from tallix_cst import cli


def write(path: Path, text: str) -> Path:
    """Writes the text as UTF-8 bytes, line breaks untranslated."""
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(text.encode("utf-8"))
    return path


@pytest.fixture
def quarel(capsysbinary, monkeypatch, tmp_path):
    """Runs `quarel ARGS...` in this process, in tmp_path: (status, stdout, stderr) as text."""
    monkeypatch.chdir(tmp_path)

    def run(*args):
        status = cli.main([str(a) for a in args])
        out, err = capsysbinary.readouterr()
        return status, out.decode(), err.decode()

    return run


@pytest.fixture
def shared_folder():
    """A folder that every user may enter and write, for runs under another user."""
    folder = Path(tempfile.mkdtemp(dir="/tmp"))
    folder.chmod(0o777)
    yield folder
    subprocess.run(["rm", "-rf", str(folder)], check=True)


def run_quarel(*args, env=(), **kwargs):
    """`python -m tallix_cst ARGS...` in a new process, with `env` added to the environment."""
    kwargs.setdefault("stdout", subprocess.PIPE)
    kwargs.setdefault("stderr", subprocess.PIPE)
    return subprocess.run(
        [sys.executable, "-m", "tallix_cst", *[str(a) for a in args]],
        timeout=60,
        env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1", **dict(env)},
        **kwargs,
    )
