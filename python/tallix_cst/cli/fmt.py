"""`quarel fmt`: files laid out regularly, through the one runner; `-` formats standard
input to standard output."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Callable, Dict

from tallix_cst import edits, format_options
from tallix_cst._native import Document
from tallix_cst.cli.output import diff_of, say
from tallix_cst.cli.runner import Bulk, Counts, files, run
from tallix_cst.edits import CHANGED, Outcome
from tallix_cst.failures import EXIT_FAILED, EXIT_OK, EXIT_USAGE, STDIN, Failure, label
from tallix_cst.lock import FileLock
from tallix_cst.names import quoted


class Formatting(Bulk):
    def __init__(self, args: argparse.Namespace, chosen: Dict[str, format_options.Options]) -> None:
        self.args, self.chosen = args, chosen
        self.write = not (args.check or args.diff)
        self.all_or_nothing = args.all_or_nothing

    def outcome(self, path: str) -> Outcome:
        printed = self.write and path == STDIN  # standard input is formatted to standard output
        mode = edits.Options(self.write and not printed, self.args.diff, printed, self.args.max_file_size)
        lock = FileLock(path) if mode.write else None
        return edits.edit_file(path, formatter(label(path), self.chosen[path]), mode, lock)

    def shown(self, outcome: Outcome) -> bytes:
        if outcome.state == CHANGED and self.args.check:
            return f"would reformat {quoted(outcome.path)}\n".encode()
        if outcome.state == CHANGED and self.args.diff:
            return diff_of(outcome.path, outcome.before, outcome.after).encode("utf-8", "surrogateescape")
        if self.write and outcome.path == STDIN and outcome.data is not None:
            return outcome.data
        return b""

    def finish(self, counts: Counts, written: bool) -> int:
        changed, unchanged, failed = counts.values()
        word = "reformatted" if written else "would reformat"
        say(f"{changed} {word}, {unchanged} unchanged, {failed} failed")
        return EXIT_FAILED if changed and not self.write else EXIT_OK


def cmd_fmt(args: argparse.Namespace) -> int:
    if args.all_or_nothing and (args.check or args.diff):
        raise Failure("quarel fmt: error: --all-or-nothing writes: not with --check or --diff", EXIT_USAGE)
    newline = args.newline and format_options.NEWLINES[args.newline]
    given = {
        key: value
        for key, value in [
            ("indent", args.indent),
            ("newline", newline),
            ("max_blank_lines", args.max_blank_lines),
            ("column_width", args.column_width),
        ]
        if value is not None
    }
    paths = files(args)
    try:  # every file's, before any is touched
        configuration = format_options.Configuration()
        chosen = {path: configuration.options(Path(path), given) for path in paths}
    except ValueError as e:
        raise Failure(str(e), EXIT_USAGE) from None
    return run(Formatting(args, chosen), paths)


def formatter(name: str, options: format_options.Options) -> Callable[[Document], None]:
    def format_one(doc: Document) -> None:
        try:
            format_options.format_document(doc, options)
        except ValueError as e:  # the check after formatting found a change of meaning
            raise Failure(f"{name}: error: {e}", EXIT_FAILED) from None

    return format_one
