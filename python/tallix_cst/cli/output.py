"""What the commands print: UTF-8 bytes whatever the locale, a closed or full output ending
the command, and `apply`'s progress bar."""

from __future__ import annotations

import contextlib
import os
import sys
from typing import IO, Iterator

from tallix_cst.diff import unified_diff
from tallix_cst.failures import EXIT_USAGE
from tallix_cst.names import quoted


class OutputError(Exception):
    """Standard output is closed or full: the command cannot go on."""

    status = EXIT_USAGE


def out(stream: IO[str], text: str, raw: bytes = b"") -> None:
    """Writes UTF-8 bytes, whatever the locale, never translating line breaks. A closed or
    full output ends the command."""
    binary: IO[bytes] = stream.buffer  # type: ignore[attr-defined]
    rest = memoryview(text.encode("utf-8", "surrogateescape") + raw)
    try:
        stream.flush()
        # Unbuffered (python -u, PYTHONUNBUFFERED) the stream writes straight to its file,
        # and a write that fills the disk returns short: the next one meets the error.
        while rest:
            rest = rest[binary.write(rest) :]
        binary.flush()
    except OSError as e:
        # Nothing more can be shown (`quarel json f | head`), and Python must not fail
        # again flushing what is left in the stream at exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, stream.fileno())
        os.close(devnull)
        if isinstance(e, BrokenPipeError):
            raise OutputError("quarel: error: the output was closed") from None
        raise OutputError(f"quarel: error: cannot write the output: {e.strerror or e}") from None


def say(line: str) -> None:
    """A line on standard error."""
    with contextlib.suppress(OutputError):
        out(sys.stderr, line + "\n")


def prefixed(name: str, text: str, many: bool) -> str:
    """With many files, every line starts with the file's name."""
    return "".join(f"{name}: {line}" for line in text.splitlines(keepends=True)) if many else text


class Progress:
    """A progress bar on standard error when it is a terminal (and `shown`), cleared while
    lines are printed."""

    def __init__(self, total: int, shown: bool = True) -> None:
        self._bar = None
        if shown and sys.stderr.isatty():
            from tqdm import tqdm  # type: ignore[import-untyped]

            self._bar = tqdm(total=total, unit="file", leave=False)

    def advance(self, files: int) -> None:
        if self._bar is not None:
            self._bar.update(files)

    @contextlib.contextmanager
    def printing(self) -> Iterator[None]:
        if self._bar is None:
            yield
            return
        self._bar.clear()
        try:
            yield
        finally:
            self._bar.refresh()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None

    def __enter__(self) -> Progress:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()


def diff_of(path: str, before: str, after: str) -> str:
    """The unified diff of a file's change, with a header that `git apply` takes."""
    return unified_diff(before, after, quoted(plain_path(path)))


def plain_path(path: str) -> str:
    """The path as tools that take paths from a repository's top want it: without `./` or
    `..` steps, and relative where it is below the current folder."""
    shown = os.path.normpath(path)
    if os.path.isabs(shown):
        relative = os.path.relpath(shown)
        shown = shown if relative.startswith("..") else relative
    return shown
