"""The `quarel` command line tool: check, read and edit Quarel files in bulk from the shell.

`arguments` is the table of commands and options; each family of commands has its module
(`reading`, `editing`, `fmt`, `apply`, `check`, `infer`, `server`), and every bulk command
runs through `runner`."""

from __future__ import annotations

import sys
from typing import List, Optional

from tallix_cst.cli.arguments import build_parser
from tallix_cst.cli.output import OutputError, out, say
from tallix_cst.cli.runner import EXIT_INTERRUPTED
from tallix_cst.failures import EXIT_OK, EXIT_USAGE, Failure

__all__ = ["main"]


def main(argv: Optional[List[str]] = None) -> int:
    try:
        status = run(argv)
        out(sys.stdout, "")  # what argparse printed (--help, --version) is still buffered
        return status
    except (Failure, OutputError) as e:
        say(str(e))
        return e.status
    except KeyboardInterrupt:
        say("quarel: interrupted")
        return EXIT_INTERRUPTED


def run(argv: Optional[List[str]]) -> int:
    try:
        args = build_parser().parse_args(argv)
        return int(args.run(args))
    except SystemExit as e:  # argparse: --help, --version and usage errors
        return EXIT_OK if e.code is None else e.code if isinstance(e.code, int) else EXIT_USAGE
