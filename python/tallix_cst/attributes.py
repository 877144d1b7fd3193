"""What a new file takes from the file it is to replace: owner, group, extended attributes
(access control lists among them) and mode, so that replacing a file never widens nor narrows
who may use it."""

from __future__ import annotations

import errno
import os
import stat
from typing import Dict, Union

from tallix_cst.leftovers import MARK

Source = Union[str, int]


def copy(source: str, old: os.stat_result, fd: int) -> bool:
    """Gives the new file open at `fd` what the file at `source` (of status `old`) has; False
    where it could not get all of it, and may then not take that file's place."""
    if not _owner(fd, old) or not _attributes(source, fd):
        return False
    # Last: chown clears set-id bits, and where there is an ACL, its mask is the group's bits.
    os.fchmod(fd, stat.S_IMODE(old.st_mode))
    return True


def _owner(fd: int, old: os.stat_result) -> bool:
    new = os.fstat(fd)
    if (new.st_uid, new.st_gid) == (old.st_uid, old.st_gid):
        return True
    try:
        os.fchown(fd, old.st_uid, old.st_gid)
    except PermissionError:
        return False
    return True


def _attributes(source: str, fd: int) -> bool:
    """The new file's extended attributes become the old one's: those it lacks are set, and
    those it got by itself (an ACL inherited from the folder) are removed."""
    try:
        wanted = _listed(source)
        present = _listed(fd)
        for name in present.keys() - wanted.keys():
            os.removexattr(fd, name)
        for name, value in wanted.items():
            if present.get(name) != value:
                os.setxattr(fd, name, value)
    except OSError:
        return False
    return True


def _listed(file: Source) -> Dict[str, bytes]:
    """The extended attributes, but for the writers' own marks. A path is not followed."""
    follow = {"follow_symlinks": False} if isinstance(file, str) else {}
    try:
        names = os.listxattr(file, **follow)
    except OSError as e:
        if e.errno in (errno.ENOTSUP, errno.EOPNOTSUPP):  # a file system without them
            return {}
        raise
    return {
        name: os.getxattr(file, name, **follow)
        for name in names
        if not (name + ".").startswith(MARK + ".")
    }
