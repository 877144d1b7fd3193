"""Lanes of work: what is asked of one document is done in the order it was asked, on a
thread of its own, so that a large document's work never holds up another's requests,
and the thread that reads the editor's messages never waits for any of it."""

from __future__ import annotations

import collections
import logging
import threading
from concurrent.futures import Future
from typing import Any, Callable, Deque, Optional, Tuple, TypeVar

T = TypeVar("T")


class Lane:
    """Work done one piece at a time, in order of submission. When the last piece queued
    is done, `idle` runs: work that only the newest state needs (parsing a text after a
    run of keystrokes) waits until nothing newer is queued behind it."""

    def __init__(self, idle: Optional[Callable[[], None]] = None) -> None:
        self._idle = idle
        self._lock = threading.Lock()
        self._queue: Deque[Tuple[Future[Any], Callable[[], Any]]] = collections.deque()
        self._running = False

    def submit(self, work: Callable[[], T]) -> Future[T]:
        """Queues the work; its future is cancelled, and the work skipped, by a cancel that
        comes before it starts."""
        future: Future[T] = Future()
        with self._lock:
            self._queue.append((future, work))
            if self._running:
                return future
            self._running = True
        # A daemon thread: a piece of work that never ends must not keep the server from
        # exiting when the editor says so.
        threading.Thread(target=self._drain, daemon=True).start()
        return future

    def _drain(self) -> None:
        while True:
            with self._lock:
                if not self._queue:
                    self._running = False
                    return
                future, work = self._queue.popleft()
                last = not self._queue
            if future.set_running_or_notify_cancel():
                try:
                    future.set_result(work())
                except BaseException as e:  # handed to whoever waits for the future
                    future.set_exception(e)
            if last and self._idle is not None:
                with self._lock:
                    behind = bool(self._queue)
                if not behind:
                    self._run_idle()

    def _run_idle(self) -> None:
        assert self._idle is not None
        try:
            self._idle()
        except Exception:  # logged; the next piece of work tries again
            logging.getLogger(__name__).exception("idle work failed")
