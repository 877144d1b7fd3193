"""The `quarel` command line tool."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Iterator, List, Optional

from tallix_cst import QuarelSyntaxError, parse_quarel

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2


class InputError(Exception):
    """A file that cannot be read as UTF-8 text."""


def read_source(path: str) -> str:
    """The file's text, carriage returns and all."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise InputError(f"{path}: error: {e.strerror or e}") from None
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise InputError(f"{path}: error: not valid UTF-8 (byte {e.start})") from None


def quarel_files(paths: List[str]) -> Iterator[str]:
    """The paths given, with directories replaced by the *.quarel files below them."""
    for path in paths:
        if not os.path.isdir(path):
            yield path
            continue
        for folder, subfolders, files in os.walk(path):
            subfolders.sort()
            for name in sorted(files):
                if name.endswith(".quarel"):
                    yield os.path.join(folder, name)


def syntax_message(error: QuarelSyntaxError) -> str:
    """The message without its ' at line L, column C' ending."""
    text = str(error)
    suffix = f" at line {error.line}, column {error.column}"
    return text[: -len(suffix)] if text.endswith(suffix) else text


def cmd_check(args: argparse.Namespace) -> int:
    status = EXIT_OK
    for path in quarel_files(args.paths):
        try:
            parse_quarel(read_source(path))
        except InputError as e:
            print(e, file=sys.stderr)
            status = EXIT_USAGE
        except QuarelSyntaxError as e:
            print(f"{path}:{e.line}:{e.column}: {syntax_message(e)}")
            status = max(status, EXIT_FAILED)
    return status


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarel", description="Read, check and edit Quarel files without losing their layout."
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    check = commands.add_parser(
        "check",
        help="report files that do not parse",
        description="Parse each file (directories are searched for *.quarel) and print "
        "path:line:column: message for every file that does not parse. Exit status: 0 when "
        "all parse, 1 when any does not, 2 for usage or I/O errors.",
    )
    check.add_argument("paths", nargs="+", metavar="PATH")
    check.set_defaults(run=cmd_check)
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    return int(args.run(args))
