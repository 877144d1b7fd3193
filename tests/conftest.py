"""Helpers shared by the test modules, and the Hypothesis profiles.

The property tests take their example counts from the profile: `make test`
runs the full one, the other interpreters of `make test-matrix` a lean one.
"""

import faulthandler
import functools
import os
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings

from tallix_cst import cli, parse_quarel

settings.register_profile(
    "full", max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much]
)
settings.register_profile("lean", parent=settings.get_profile("full"), max_examples=10)
settings.load_profile("full")

# The commands the tests start take Ctrl-C as they do at a terminal, also where the suite
# itself runs in the background of a script (tests/matrix.sh), whose shell starts it with
# SIGINT ignored: an ignored signal stays ignored in every process started from here.
if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)

# A document with a bit of everything, for edits to work on.
SOURCE = """\
# header
a: 1
l: [x, [y], k: v]
v: users {
  c: "three"  # end
  sql: c * 2 ;;
}
"""


def shape(pairs, exprs=True):
    """Keys, names, kinds and values of `pairs`, nested; expression texts left out unless `exprs`."""
    return [(p.key, p.name, p.kind, shape(p.children, exprs) if p.kind == "block" else
             None if p.kind == "expr" and not exprs else p.value) for p in pairs]


def assert_consistent(doc):
    """The printed text parses back to the document that printed it."""
    text = doc.to_string()
    assert shape(parse_quarel(text).children) == shape(doc.children), text
    return text


def at(doc, *path):
    """The pair reached by following keys from `doc`."""
    return functools.reduce(lambda node, key: node.find(key), path, doc)


# Edits of the pair at `path`, for the tables of expected layouts.
def add(*path, args, **kw):
    return lambda d: at(d, *path).add(*args, **kw)


def source(snippet, *path, index=None):
    return lambda d: at(d, *path).add_source(snippet, index=index)


def remove(*path):
    return lambda d: at(d, *path[:-1]).remove(path[-1])


def assign(value, *path):
    return lambda d: setattr(at(d, *path), "value", value)


def set_value(value, *path, kind=None):
    return lambda d: at(d, *path).set_value(value, kind=kind)


def comments(lines, *path):
    return lambda d: setattr(at(d, *path), "comments", lines)


def calling(callback, text="5"):
    """An int whose str() runs `callback` first: Python code in the middle of a conversion."""

    class Meddling(int):
        def __str__(self):
            callback(self)
            return text

    return Meddling(1)


@pytest.fixture
def watchdog():
    """A lock waited on forever would hang the run: fail it loudly instead."""
    faulthandler.dump_traceback_later(120, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


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
