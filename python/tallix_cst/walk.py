"""Which files a command's paths stand for: a file named stands for itself, a folder for
the `*.quarel` files below it less what the project ignores, and each file counts once
however often it is named.

Below a folder named, a walk passes over (a path named itself is never passed over):

- the usual folders of version control, environments and builds (`USUAL`), or instead
  those that the configuration's `exclude` names, and those of its `extend-exclude`:
  patterns written as in `.gitignore`, relative to the configuration file's folder;
- what the `.gitignore` files ignore: those of the folders walked, and those of the
  folders above up to the repository's top (the folder that holds `.git`);
- what is there but is not a regular file (a FIFO, a device, a link to one).

`ignore=False` (`--no-ignore`) walks everything but special files. The configuration is
`config`'s, read once per `Configs`; one that cannot be read is a ConfigError with
`strict` (the command line's), and else counts as none (an editor's index walks on).
"""

from __future__ import annotations

import os
import stat
from dataclasses import dataclass
from typing import Dict, Iterable, Iterator, List, Optional, Set, Tuple

import pathspec

from tallix_cst.config import NONE, USUAL, Config, ConfigError, Configs
from tallix_cst.failures import STDIN
from tallix_cst.files import read_file


def quarel_files(
    paths: Iterable[str], ignore: bool = True, configs: Optional[Configs] = None, strict: bool = False
) -> Iterator[str]:
    """The paths given, with folders replaced by the *.quarel files below them, in sorted
    order, each folder's own files before its subfolders'."""
    rules = _Rules(configs or Configs(), strict) if ignore else None
    for path in paths:
        if path == STDIN or not os.path.isdir(path):
            yield path
        else:
            yield from _walk(path, rules)


def distinct_files(paths: Iterable[str]) -> List[str]:
    """The paths, each file once: a path to a file named before (the same path again, a
    folder and a file in it, a symbolic or a hard link to it) is passed over, so that no
    file is edited or printed twice. The first name given is the one kept."""
    seen: Set[object] = set()
    distinct = []
    for path in paths:
        try:
            status = os.stat(path) if path != STDIN else None
            key: object = path if status is None else (status.st_dev, status.st_ino)
        except OSError:
            key = os.path.normpath(path)  # reported when it is read
        if key not in seen:
            seen.add(key)
            distinct.append(path)
    return distinct


def _walk(root: str, rules: Optional[_Rules]) -> Iterator[str]:
    exempt = rules.ignoring(root) if rules else ()
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        if rules:
            subfolders[:] = [
                name for name in subfolders
                if not rules.ignored(os.path.join(folder, name), True, exempt)
            ]
        for name in sorted(files):
            path = os.path.join(folder, name)
            if (
                name.endswith(".quarel")
                and not _special(path)
                and not (rules and rules.ignored(path, False, exempt))
            ):
                yield path


def _special(path: str) -> bool:
    try:
        return not stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False  # gone, or a dangling link: the reader says so


@dataclass(frozen=True)
class _Spec:
    """Patterns of one file, matched against paths relative to its folder."""

    #: The folder, ending in a separator.
    folder: str
    spec: pathspec.GitIgnoreSpec
    folders_only: bool = False

    def verdict(self, path: str, is_dir: bool) -> Optional[bool]:
        """Whether the path (absolute and normal) is ignored, not ignored (a `!` pattern),
        or None: no pattern says."""
        if self.folders_only and not is_dir:
            return None
        # A prefix, not os.path.relpath: this runs for every entry of a walk.
        if not path.startswith(self.folder) or path == self.folder:
            return None
        relative = path[len(self.folder) :].replace(os.sep, "/")
        return self.spec.check_file(relative + ("/" if is_dir else "")).include


class _Rules:
    """The rules of each folder: its configuration's and its `.gitignore` files'."""

    def __init__(self, configs: Configs, strict: bool) -> None:
        self._configs, self._strict = configs, strict
        self._by_config: Dict[Optional[str], Tuple[_Spec, ...]] = {}
        self._gitignores: Dict[str, Tuple[_Spec, ...]] = {}  # nearest last

    def ignoring(self, root: str) -> Tuple[_Spec, ...]:
        """The rules that ignore a folder named: not applied below it, where they would
        ignore everything."""
        absolute = os.path.abspath(root)
        return tuple(spec for spec in self._specs(os.path.dirname(absolute)) if spec.verdict(absolute, True))

    def ignored(self, path: str, is_dir: bool, exempt: Tuple[_Spec, ...] = ()) -> bool:
        absolute = os.path.abspath(path)
        for spec in reversed(self._specs(os.path.dirname(absolute))):
            verdict = None if spec in exempt else spec.verdict(absolute, is_dir)
            if verdict is not None:
                return verdict
        return False

    def _specs(self, folder: str) -> Tuple[_Spec, ...]:
        """The rules for the entries of a folder, the one that decides last."""
        try:
            config = self._configs.for_folder(folder)
        except ConfigError:
            if self._strict:
                raise
            config = NONE
        if config.path not in self._by_config:
            self._by_config[config.path] = _config_specs(config)
        return self._by_config[config.path] + self._gitignore(folder)

    def _gitignore(self, folder: str) -> Tuple[_Spec, ...]:
        if folder not in self._gitignores:
            parent = os.path.dirname(folder)
            above: Tuple[_Spec, ...] = ()
            if parent != folder and not os.path.exists(os.path.join(folder, ".git")):
                above = self._gitignore(parent)
            here = _read_gitignore(folder)
            self._gitignores[folder] = above + ((here,) if here else ())
        return self._gitignores[folder]


def _config_specs(config: Config) -> Tuple[_Spec, ...]:
    # Without a configuration file the usual folders are ignored anywhere.
    base = os.path.dirname(config.path) if config.path else os.path.abspath(os.sep)
    usual = config.exclude if config.exclude is not None else [f"{name}/" for name in USUAL]
    specs = []
    for patterns, folders_only in ((usual, config.exclude is None), (config.extend_exclude, False)):
        if patterns:
            try:
                spec = pathspec.GitIgnoreSpec.from_lines(patterns)
            except ValueError as e:  # (pathspec's own errors are ValueErrors)
                raise ConfigError(f"{config.path}: error: `exclude`: {e}") from None
            specs.append(_Spec(os.path.join(base, ""), spec, folders_only))
    return tuple(specs)


def _read_gitignore(folder: str) -> Optional[_Spec]:
    path = os.path.join(folder, ".gitignore")
    try:
        lines = read_file(path, 1 << 20).decode("utf-8", "replace").splitlines()
    except OSError:
        return None  # none, or none to read: nothing is ignored by it
    return _Spec(os.path.join(folder, ""), pathspec.GitIgnoreSpec.from_lines(lines)) if lines else None
