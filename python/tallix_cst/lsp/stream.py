"""The two byte streams between the editor and the server: messages framed by a
`Content-Length` header, read on a thread of their own, and the server's messages written
on another, in order.

A header that cannot frame a message (a length that is not a number, or over the limit)
is answered with an error, and reading goes on at the next `Content-Length` header: the
stream does not end because one message was malformed, and no length makes the server
set memory aside for it before the bytes have come.
"""

from __future__ import annotations

import logging
import queue
import threading
from typing import BinaryIO, NamedTuple, Optional, Tuple, Union

# The largest message the server reads: a document of about a hundred megabytes, as JSON.
MAX_MESSAGE = 128 * 2**20
# Header lines are short; a longer one is not a header.
MAX_HEADER_LINE = 4096
# How long the writer may take, at exit, to write what is queued.
CLOSE_SECONDS = 5.0

_LENGTH = b"Content-Length:"
log = logging.getLogger(__name__)


class FramingError(NamedTuple):
    """Headers that frame no message, and why."""

    message: str


class MessageReader:
    def __init__(self, stream: BinaryIO) -> None:
        self._stream = stream
        self._pending: Optional[bytes] = None  # a header line found while skipping

    def next(self) -> Union[bytes, FramingError, None]:
        """The body of the next message, or a FramingError for headers that frame none
        (reading then goes on at the next `Content-Length` header); None at the end of the
        stream."""
        length: Optional[int] = None
        problem: Optional[str] = None
        headers = 0
        while True:
            line = self._line()
            if line is None:
                return None
            if not line.strip(b"\r\n"):
                if headers:
                    break
                continue  # blank lines between messages
            headers += 1
            name, _, value = line.partition(b":")
            if not line.endswith(b"\n"):
                problem = "a header line longer than %d bytes" % MAX_HEADER_LINE
            elif name.strip().lower() == b"content-length":
                length, why = _length(value.strip())
                problem = problem or why
        if length is None or problem is not None:
            self._skip_to_next_header()
            return FramingError(problem or "a message without a Content-Length header")
        body = self._stream.read(length)
        return body if len(body) == length else None

    def _line(self) -> Optional[bytes]:
        if self._pending is not None:
            line, self._pending = self._pending, None
            return line
        line = self._stream.readline(MAX_HEADER_LINE)
        return line or None

    def _skip_to_next_header(self) -> None:
        """Reads on to the next `Content-Length` header, which may follow the rest of a
        message on its line, in pieces of bounded size."""
        carried = b""  # the end of the last piece, in case the header starts there
        while True:
            piece = self._stream.readline(MAX_HEADER_LINE)
            if not piece:
                return
            found = (carried + piece).find(_LENGTH)
            if found >= 0:
                rest = (carried + piece)[found:]
                self._pending = rest if rest.endswith(b"\n") else rest + self._stream.readline(MAX_HEADER_LINE)
                return
            carried = b"" if piece.endswith(b"\n") else piece[-len(_LENGTH) :]


def _length(text: bytes) -> Tuple[Optional[int], Optional[str]]:
    """The length a header gives, or why it gives none."""
    shown = text[:40].decode("utf-8", "replace")
    if not text.isdigit():
        return None, f"Content-Length `{shown}` is not a number"
    if len(text) > 12 or int(text) > MAX_MESSAGE:
        return None, f"a message of {shown} bytes is over the limit of {MAX_MESSAGE:,} bytes"
    return int(text), None


class Writer:
    """Writes the server's messages on a thread of its own, in the order given, so that a
    large answer on its way to a slow reader holds up nothing else."""

    def __init__(self, stream: BinaryIO) -> None:
        self._stream = stream
        self._queue: queue.SimpleQueue[Optional[Tuple[bytes, ...]]] = queue.SimpleQueue()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def write(self, *pieces: bytes) -> None:
        """Queues a message, given whole or in pieces that are written one after another."""
        self._queue.put(pieces)

    def close(self) -> None:
        """Writes what is queued, within CLOSE_SECONDS, and closes the stream."""
        self._queue.put(None)
        self._thread.join(CLOSE_SECONDS)

    def _run(self) -> None:
        broken = False
        while True:
            pieces = self._queue.get()
            if pieces is None:
                break
            if broken:
                continue
            try:
                for piece in pieces:
                    self._stream.write(piece)
                self._stream.flush()
            except (OSError, ValueError):  # the editor is gone: what follows is dropped
                log.warning("the editor no longer reads the server's messages")
                broken = True
        try:
            self._stream.close()
        except OSError:
            pass
