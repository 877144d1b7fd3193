"""How writes meet Ctrl-C, SIGTERM and SIGHUP: cleaned up after, or held off until done.

Python turns SIGINT into KeyboardInterrupt, so `except BaseException` blocks run; SIGTERM,
and SIGHUP when the terminal closes, kill the process outright, leaving temporary files
behind. Signal handlers can only be set from the main thread; elsewhere both helpers change
nothing.
"""

from __future__ import annotations

import contextlib
import os
import signal
import threading
from types import FrameType
from typing import Iterator, List, Optional

# The signals that end a process unless handled, and what `deferred` holds.
STOPPING = (signal.SIGTERM, signal.SIGHUP)
HELD = (signal.SIGINT, *STOPPING)


class Terminated(BaseException):
    """SIGTERM or SIGHUP arrived inside `stops_unwind`."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


def _in_main_thread() -> bool:
    return threading.current_thread() is threading.main_thread()


@contextlib.contextmanager
def stops_unwind() -> Iterator[None]:
    """Within the block SIGTERM and SIGHUP raise Terminated, so cleanup code runs; the process
    then ends by the signal as it would have. Another such signal during the cleanup waits for
    it. A handler the program set itself (or SIG_IGN, as under nohup) is left alone."""
    if not _in_main_thread():
        yield
        return
    ours = [s for s in STOPPING if signal.getsignal(s) is signal.SIG_DFL]
    held: List[int] = []

    def unwind(signum: int, frame: Optional[FrameType]) -> None:
        for s in ours:
            signal.signal(s, lambda signum, frame: held.append(signum))
        raise Terminated(signum)

    for s in ours:
        signal.signal(s, unwind)
    try:
        yield
    except Terminated as e:
        for s in ours:
            signal.signal(s, signal.SIG_DFL)
        os.kill(os.getpid(), e.signum)
        raise  # only reached where the signal cannot end the process
    finally:
        for s in ours:
            signal.signal(s, signal.SIG_DFL)
        for arrived in dict.fromkeys(held):
            signal.raise_signal(arrived)


@contextlib.contextmanager
def deferred() -> Iterator[None]:
    """Holds SIGINT, SIGTERM and SIGHUP until the block is done, then delivers them to the
    handlers that were in place."""
    # A handler set outside Python reads as None and could not be put back.
    if not _in_main_thread() or any(signal.getsignal(s) is None for s in HELD):
        yield
        return
    held: List[int] = []

    def hold(signum: int, frame: Optional[FrameType]) -> None:
        held.append(signum)

    previous = {signum: signal.signal(signum, hold) for signum in HELD}
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)
        for arrived in dict.fromkeys(held):
            signal.raise_signal(arrived)
