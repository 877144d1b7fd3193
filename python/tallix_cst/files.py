"""Documents from and to files: `load`, `loads` and `dump`, bytes exactly as they are; and
the rules by which every reader of Quarel files reads them.

A reader reads regular files only: anything else (a directory, a FIFO, a device, a socket, or
a symbolic link to one) is refused with a one-line OSError when named, before it is opened,
and passed over when found in a folder. Files are opened without blocking, and read up to a
cap (`MAX_SIZE`, which a caller may raise), so that no file can hang a reader or exhaust its
memory. Writing is `writing.write_file`'s.
"""

from __future__ import annotations

import errno
import os
import stat
from typing import IO, Callable, List, Optional, Tuple, Union

from tallix_cst._native import Document, parse_quarel
from tallix_cst.writing import Path, Snapshot, regular, write_file

# The most a reader reads of one file: a document takes about seven times its size in memory.
MAX_SIZE = 64 << 20


class TooLarge(OSError):
    """A file larger than a reader reads."""

    def __init__(self, path: Path, size: Optional[int], limit: int) -> None:
        message = f"larger than the limit of {size_text(limit)}"
        if size is not None:
            message = f"{size_text(size)}, {message}"
        super().__init__(errno.EFBIG, message, os.fspath(path))


def size_text(size: int) -> str:
    for unit, shift in (("GiB", 30), ("MiB", 20), ("KiB", 10)):
        if size >= 1 << shift:
            value = size / (1 << shift)
            return f"{value:.0f} {unit}" if value == int(value) else f"{value:.1f} {unit}"
    return f"{size} bytes"


def read_file(path: Path, max_size: Optional[int] = MAX_SIZE) -> bytes:
    """The bytes of the regular file at `path`. Anything else is refused before it is opened,
    and a file of more than `max_size` bytes (None: no cap) is refused with TooLarge; each
    with an OSError whose message is one line."""
    return _read(path, max_size)[0]


def read_source(path: Path, max_size: Optional[int] = MAX_SIZE) -> Tuple[bytes, Snapshot]:
    """The file's bytes, as `read_file` reads them, and what its writer is to check."""
    data, status = _read(path, max_size)
    return data, Snapshot.of(path, status, data)


def _read(path: Path, max_size: Optional[int]) -> Tuple[bytes, os.stat_result]:
    regular(os.stat(path), path)
    # Without blocking and without a terminal: should the path be swapped for a FIFO or a
    # device meanwhile, the open neither waits nor acts, and fstat tells.
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    try:
        status = regular(os.fstat(fd), path)
        data = read_capped(lambda size: os.read(fd, size), max_size, path, status.st_size)
        return data, status
    finally:
        os.close(fd)


def read_capped(
    read: Callable[[int], bytes], max_size: Optional[int], path: Path, expected: int = 0
) -> bytes:
    """Reads to the end through `read`, refusing more than `max_size` bytes (None: no cap);
    `expected` is the size the file tells, read at once as a rule."""
    if max_size is not None and expected > max_size:
        raise TooLarge(path, expected, max_size)
    parts: List[bytes] = []
    total = 0
    while True:
        # One more byte than told: a file may grow, or tell no size (as in /proc).
        want = max(expected + 1 - total, 1 << 16)
        chunk = read(want if max_size is None else min(want, max_size + 1 - total))
        if not isinstance(chunk, bytes):
            raise TypeError("load() needs a file opened in binary mode ('rb')")
        if not chunk:
            return b"".join(parts)
        parts.append(chunk)
        total += len(chunk)
        if max_size is not None and total > max_size:
            raise TooLarge(path, None, max_size)


def load(source: Union[Path, IO[bytes]], max_size: Optional[int] = MAX_SIZE) -> Document:
    """Parses a file, given as a path or a binary file object. Its bytes are parsed as they
    are, carriage returns included; bytes that are not UTF-8 raise UnicodeDecodeError
    naming the file. A path is read as `read_file` reads it: anything but a regular file,
    and a file of more than `max_size` bytes (None: no cap), raise OSError."""
    if isinstance(source, (str, os.PathLike)):
        data = read_file(source, max_size)
        name = os.fspath(source)
    else:
        name = str(getattr(source, "name", "<file>"))
        data = read_capped(source.read, max_size, name)
    try:
        return Document.parse(data)
    except UnicodeDecodeError as e:
        raise UnicodeDecodeError(
            e.encoding, e.object, e.start, e.end, f"{e.reason} in {name}"
        ) from None


def loads(data: Union[str, bytes, bytearray]) -> Document:
    """Parses the contents of a Quarel file given as text or as UTF-8 bytes. A leading
    U+FEFF is the file's byte-order mark, as if the bytes were read: it prints back but is not
    part of the first key."""
    if isinstance(data, str):
        return Document.parse(data.encode()) if data.startswith("\ufeff") else parse_quarel(data)
    if isinstance(data, (bytes, bytearray)):
        return Document.parse(data)
    raise TypeError(f"loads() argument must be str or bytes, not {type(data).__name__}")


def dump(doc: Document, target: Union[Path, IO[bytes]]) -> None:
    """Writes the document to a binary file object, or to a path (see `write_file`)."""
    data = doc.to_bytes()
    if isinstance(target, (str, os.PathLike)):
        write_file(target, data)
    else:
        target.write(data)
