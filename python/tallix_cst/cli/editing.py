"""The commands that edit pairs: `set`, `add`, `rm`, `rename` and `comment --set/--clear`.
Each prints the edited documents, or their diffs (`--diff`), or writes them back
(`--in-place`), through the one runner."""

from __future__ import annotations

import argparse
from typing import TYPE_CHECKING, Callable, List, Optional

from tallix_cst import edits
from tallix_cst._native import Document, Pair
from tallix_cst.cli.output import diff_of
from tallix_cst.cli.reading import show_comments
from tallix_cst.cli.runner import Bulk, Counts, files, run
from tallix_cst.cli.selecting import containers, nothing_matched, pair_selector, pairs_of
from tallix_cst.data import list_from_json
from tallix_cst.edits import FAILED, Outcome
from tallix_cst.failures import EXIT_OK, EXIT_USAGE, Failure, described, label
from tallix_cst.files import loads
from tallix_cst.lock import FileLock

if TYPE_CHECKING:
    from tallix_cst.values import NewValue

# An edit of one document, given the file's name: how many pairs it acted on.
Edit = Callable[[str, Document], int]


class Editing(Bulk):
    """An edit of pairs over files. A run that matches nothing prints no document."""

    def __init__(self, args: argparse.Namespace, edit: Edit, paths: List[str]) -> None:
        self.args, self.edit, self.paths = args, edit, paths
        self.write, self.all_or_nothing = args.in_place, args.all_or_nothing
        self.printed = not (args.in_place or args.diff)
        self.options = edits.Options(args.in_place, args.diff, self.printed, args.max_file_size)
        self.matched = 0
        self.unprinted: List[bytes] = []  # documents, until anything matches

    def outcome(self, path: str) -> Outcome:
        name = label(path)

        def edit_one(doc: Document) -> None:
            try:
                self.matched += self.edit(name, doc)
            except (TypeError, ValueError) as e:  # a value the pair cannot hold, a bad key
                raise Failure(f"{name}: error: {e}", EXIT_USAGE) from None

        lock = FileLock(path) if self.write else None
        return edits.edit_file(path, edit_one, self.options, lock)

    def shown(self, outcome: Outcome) -> bytes:
        if self.args.diff:
            return diff_of(outcome.path, outcome.before, outcome.after).encode("utf-8", "surrogateescape")
        if not self.printed:
            return b""
        header = f"==> {label(outcome.path)} <==\n" if len(self.paths) > 1 else ""
        assert outcome.data is not None, "Options.printed hands the bytes back"
        self.unprinted.append(header.encode("utf-8", "surrogateescape") + outcome.data)
        if not self.matched:
            return b""
        shown = b"".join(self.unprinted)
        self.unprinted.clear()
        return shown

    def finish(self, counts: Counts, written: bool) -> int:
        if self.matched or counts[FAILED]:
            return EXIT_OK
        return nothing_matched(self.args.selector, self.paths)


def edit_files(args: argparse.Namespace, edit: Edit) -> int:
    if args.all_or_nothing and not args.in_place:
        raise Failure(f"quarel {args.command}: error: --all-or-nothing needs --in-place", EXIT_USAGE)
    paths = files(args)
    return run(Editing(args, edit, paths), paths)


def cmd_set(args: argparse.Namespace) -> int:
    last = pair_selector(args.command, args.selector).segments[-1]
    plain_key = last.literal and last.literal[1] is None

    def assign(name: str, doc: Document) -> int:
        count = 0
        for container in containers(name, args.selector.parent, doc):
            pairs = last.children(container)
            if not pairs and plain_key:
                container.add(last.key.text, new_value(name, None), kind=args.kind)
                count += 1
            for pair in pairs:
                if pair.kind == "block" and args.kind is None:
                    raise Failure(
                        f"{name}: error: `{pair.key}` is a block; give --kind to replace it",
                        EXIT_USAGE,
                    )
                pair.set_value(new_value(name, pair), args.kind)
            count += len(pairs)
        return count

    def new_value(name: str, pair: Optional[Pair]) -> NewValue:
        as_list = args.kind == "list" or (
            args.kind is None and pair is not None and pair.kind == "list"
        )
        text: str = args.value
        if not as_list:
            return text
        try:
            return list_from_json(text)
        except ValueError as e:
            raise Failure(f"{name}: error: {e}", EXIT_USAGE) from None

    return edit_files(args, assign)


def cmd_add(args: argparse.Namespace) -> int:
    try:
        loads(args.source)
    except Exception as e:  # the snippet's own lines and columns
        raise described("<source>", e) from None

    def insert(name: str, doc: Document) -> int:
        blocks = containers(name, args.selector, doc)
        for block in blocks:
            try:
                block.add_source(args.source, args.index)
            except IndexError:
                raise Failure(
                    f"{name}: error: --index {args.index} is out of range", EXIT_USAGE
                ) from None
        return len(blocks)

    return edit_files(args, insert)


def cmd_rm(args: argparse.Namespace) -> int:
    chosen = pair_selector(args.command, args.selector)

    def remove(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            pair.detach()
        return len(pairs)

    return edit_files(args, remove)


def cmd_rename(args: argparse.Namespace) -> int:
    chosen = pair_selector(args.command, args.selector)
    key, new = args.new

    def rename(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            pair.key = key
            if new is not None:
                pair.name = new
        return len(pairs)

    return edit_files(args, rename)


def cmd_comment(args: argparse.Namespace) -> int:
    if args.lines is None and not args.clear:
        if args.in_place or args.diff:
            raise Failure(
                "quarel comment: error: --in-place and --diff need --set or --clear", EXIT_USAGE
            )
        return show_comments(args)
    chosen = pair_selector(args.command, args.selector)

    def replace(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            pair.comments = args.lines or []
        return len(pairs)

    return edit_files(args, replace)
