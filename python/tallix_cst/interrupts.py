"""How writes meet Ctrl-C and SIGTERM: cleaned up after, or held off until done.

Python turns SIGINT into KeyboardInterrupt, so `except BaseException` blocks run; SIGTERM
kills the process outright, leaving temporary files behind. Signal handlers can only be set
from the main thread; elsewhere both helpers change nothing.
"""

from __future__ import annotations

import contextlib
import os
import signal
import threading
from types import FrameType
from typing import Iterator, List, Optional


class Terminated(BaseException):
    """SIGTERM arrived inside `sigterm_unwinds`."""


def _in_main_thread() -> bool:
    return threading.current_thread() is threading.main_thread()


@contextlib.contextmanager
def sigterm_unwinds() -> Iterator[None]:
    """Within the block SIGTERM raises Terminated, so cleanup code runs; the process then
    ends by the signal as it would have. A handler the program set itself is left alone."""
    if not _in_main_thread() or signal.getsignal(signal.SIGTERM) is not signal.SIG_DFL:
        yield
        return

    def unwind(signum: int, frame: Optional[FrameType]) -> None:
        raise Terminated

    signal.signal(signal.SIGTERM, unwind)
    try:
        yield
    except Terminated:
        signal.signal(signal.SIGTERM, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGTERM)
        raise  # only reached where the signal cannot end the process
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_DFL)


@contextlib.contextmanager
def deferred() -> Iterator[None]:
    """Holds SIGINT and SIGTERM until the block is done, then delivers them to the handlers
    that were in place."""
    signals = (signal.SIGINT, signal.SIGTERM)
    # A handler set outside Python reads as None and could not be put back.
    if not _in_main_thread() or any(signal.getsignal(s) is None for s in signals):
        yield
        return
    held: List[int] = []

    def hold(signum: int, frame: Optional[FrameType]) -> None:
        held.append(signum)

    previous = {signum: signal.signal(signum, hold) for signum in signals}
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)
        for arrived in dict.fromkeys(held):
            signal.raise_signal(arrived)
