"""What writers leave beside a file while they work, and how a later run tells its own.

A writer of `NAME` prepares the new content in `.NAME.<16 hex digits>.tmp` beside it (NAME
cut to 200 bytes where it is longer, so that the name fits). Where the file must be rewritten
through its inode, that file becomes the recovery copy `.NAME.<16 hex digits>.recovery`, the
file itself names its copy in the extended attribute `user.tallix_cst.recovery` (so that the
copy is found through any hard link of the file), and both go once the rewrite is synced.

Each of these files carries the writer's mark, the extended attribute `user.tallix_cst`
naming the device and inode of the file it was made for, and is locked (flock) by its writer
as long as the writer works on it. A marked file that can be locked was left by a writer that
is gone: a run that writes removes such temporary files, and a recovery copy that differs
from its file stops every run that would read or write the file. Nothing is removed by its
name alone. Where the file system keeps no extended attributes, a recovery copy is found by
its name beside the file, and temporary files are left where they are.
"""

from __future__ import annotations

import contextlib
import errno
import fcntl
import os
import re
import secrets
import stat
import threading
from typing import Dict, Iterator, List, Optional, Set, Tuple

from tallix_cst.names import quoted

MARK = "user.tallix_cst"
REWRITING = "user.tallix_cst.recovery"
TEMPORARY, RECOVERY = ".tmp", ".recovery"
_LEFTOVER = re.compile(r"\.(?P<stem>.*)\.[0-9a-f]{16}(?P<kind>\.tmp|\.recovery)", re.DOTALL)
# NAME_MAX is 255 bytes, and the longest addition is 27.
_STEM_BYTES = 200
# The errors of a file system, or a file, that keeps no extended attributes of this kind.
_NO_ATTRIBUTES = {errno.ENOTSUP, errno.EOPNOTSUPP, errno.EPERM, errno.EACCES, errno.ENOSYS}

# Per folder, the recovery copies found there by the name of the file they were made for;
# and the folders whose abandoned temporary files are gone. Each folder is listed once per
# process, so that a run over many files in it stays linear.
_copies: Dict[str, Dict[str, List[str]]] = {}
_swept: Set[str] = set()
_lock = threading.Lock()


class HalfWritten(OSError):
    """An earlier write of the file was cut short while rewriting it in place."""

    def __init__(self, path: str, copy: str) -> None:
        super().__init__(errno.EEXIST, self.explained(copy), path)
        self.copy = copy

    @staticmethod
    def explained(copy: str) -> str:
        return (
            f"an earlier write was cut short and may have left the file half-written; "
            f"its new content is in {quoted(copy)} (copy that over the file, or delete it)"
        )


def identity(status: os.stat_result) -> bytes:
    return b"%d:%d" % (status.st_dev, status.st_ino)


def stem(name: str) -> str:
    raw = os.fsencode(name)
    return name if len(raw) <= _STEM_BYTES else os.fsdecode(raw[:_STEM_BYTES])


def create(
    folder: int, name: str, made_for: Optional[os.stat_result], mode: int
) -> Tuple[int, str]:
    """A new empty temporary file beside `name` in the folder open at `folder`, locked, then
    marked (so that no sweep ever meets it marked and unlocked): its descriptor and name."""
    while True:
        # Random, so that concurrent writers never pick the same name.
        temporary = f".{stem(name)}.{secrets.token_hex(8)}{TEMPORARY}"
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
        try:
            fd = os.open(temporary, flags, mode, dir_fd=folder)
        except FileExistsError:
            continue
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
            with contextlib.suppress(OSError):  # no attributes here: never swept, then
                os.setxattr(fd, MARK, b"" if made_for is None else identity(made_for))
        except BaseException:
            os.close(fd)
            with contextlib.suppress(FileNotFoundError):
                os.unlink(temporary, dir_fd=folder)
            raise
        return fd, temporary


def unmark(fd: int) -> None:
    """Takes the mark off a temporary file that has become the file."""
    with contextlib.suppress(OSError):
        os.removexattr(fd, MARK)


def mark_rewriting(fd: int, copy: str) -> None:
    """Names the recovery copy on the file about to be rewritten through its inode."""
    try:
        os.setxattr(fd, REWRITING, os.fsencode(copy))
    except OSError as e:
        # A file system without attributes: the copy is found by its name beside the file.
        if e.errno not in (errno.ENOTSUP, errno.EOPNOTSUPP):
            raise


def unmark_rewriting(fd: int) -> None:
    with contextlib.suppress(OSError):
        os.removexattr(fd, REWRITING)


def check(path: str, clean: bool) -> None:
    """Raises HalfWritten when an earlier write of the file was cut short while rewriting it in
    place: its recovery copy waits, different from it, and the file may be half-written. A
    writer (`clean`) removes a copy the same as the file, and the mark naming it."""
    named, kept = _named_copy(path)
    if kept and named is None and not clean:
        return  # the file names no copy, and a reader looks no further
    target = os.path.realpath(path)
    try:
        status = os.stat(target)
    except OSError:
        return  # nothing to recover: the reader or writer says what is wrong with it
    if not stat.S_ISREG(status.st_mode):
        return
    folder, name = os.path.split(target)
    for copy in dict.fromkeys(([named] if named else []) + _found(folder).get(stem(name), [])):
        with _abandoned(copy, status) as fd:
            if fd is None:
                continue
            # Where the file would name its copy, a copy it does not name was left before its
            # rewrite began.
            begun = copy == named or not kept
            if begun and not _same(fd, target):
                raise HalfWritten(path, copy)
            if clean:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(copy)
                _forget(copy)
    if clean and named is not None and not _in_use(named):
        with contextlib.suppress(OSError):
            os.removexattr(target, REWRITING)


def sweep(folder: str) -> None:
    """Removes the temporary files in the folder whose writers are gone: those with the mark
    that can be locked. Once per folder and process."""
    with _lock:
        if folder in _swept:
            return
        _swept.add(folder)
    for path in _listed(folder, TEMPORARY):
        with _abandoned(path, None) as fd:
            if fd is not None:
                with contextlib.suppress(OSError):
                    os.unlink(path)


def _named_copy(target: str) -> Tuple[Optional[str], bool]:
    """The recovery copy the file names, and whether its file system keeps such names."""
    try:
        return os.fsdecode(os.getxattr(target, REWRITING)), True
    except OSError as e:
        return None, e.errno == errno.ENODATA


def _found(folder: str) -> Dict[str, List[str]]:
    """The recovery copies in the folder, by the stem of their file's name."""
    with _lock:
        if folder not in _copies:
            copies: Dict[str, List[str]] = {}
            for path in _listed(folder, RECOVERY):
                match = _LEFTOVER.fullmatch(os.path.basename(path))
                assert match is not None
                copies.setdefault(match["stem"], []).append(path)
            _copies[folder] = copies
        return _copies[folder]


def _forget(copy: str) -> None:
    with _lock:
        for copies in _copies.values():
            for paths in copies.values():
                if copy in paths:
                    paths.remove(copy)


def _listed(folder: str, kind: str) -> List[str]:
    try:
        with os.scandir(folder) as entries:
            names = [e.name for e in entries if e.is_file(follow_symlinks=False)]
    except OSError:  # a folder that may not be listed: nothing to find
        return []
    return [
        os.path.join(folder, name)
        for name in names
        if (match := _LEFTOVER.fullmatch(name)) is not None and match["kind"] == kind
    ]


@contextlib.contextmanager
def _abandoned(path: str, made_for: Optional[os.stat_result]) -> Iterator[Optional[int]]:
    """The file open, when it carries the mark (for the file of status `made_for`, if given)
    and its writer is gone; its lock is held meanwhile, so that no writer starts on it. Else
    None: not ours, in use, or gone."""
    try:
        if not stat.S_ISREG(os.lstat(path).st_mode):  # never opened: a FIFO, a device
            raise OSError(errno.EINVAL, "not a regular file")
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError:
        yield None
        return
    try:
        ours = stat.S_ISREG(os.fstat(fd).st_mode) and _marked(fd, made_for)
        if ours:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                # Its writer may have renamed or removed it before the lock was taken.
                ours = os.path.samestat(os.fstat(fd), os.stat(path, follow_symlinks=False))
            except OSError:
                ours = False
        yield fd if ours else None
    finally:
        os.close(fd)


def _marked(fd: int, made_for: Optional[os.stat_result]) -> bool:
    try:
        mark = os.getxattr(fd, MARK)
    except OSError as e:
        # Without attributes here, a recovery copy beside its file is known by its name alone.
        return made_for is not None and e.errno in _NO_ATTRIBUTES
    return made_for is None or mark == identity(made_for)


def _in_use(copy: str) -> bool:
    """Whether the recovery copy is still there, locked by its writer."""
    try:
        fd = os.open(copy, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError:
        return False
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return False
    except OSError:
        return True
    finally:
        os.close(fd)


def _same(fd: int, path: str) -> bool:
    """Whether the file open at `fd` holds what the file at `path` holds."""
    try:
        with open(path, "rb") as f, open(fd, "rb", closefd=False) as copy:
            if os.fstat(f.fileno()).st_size != os.fstat(fd).st_size:
                return False
            while True:
                chunk = f.read(1 << 20)
                if chunk != copy.read(1 << 20):
                    return False
                if not chunk:
                    return True
    except OSError:
        return False
