"""`quarel apply`: an edit script run over files in worker processes, through the one
runner."""

from __future__ import annotations

import argparse
import os
from typing import Generator, List

from tallix_cst import batch, codemod, edits
from tallix_cst.cli.output import diff_of, say
from tallix_cst.cli.runner import Bulk, Counts, files, run
from tallix_cst.edits import CHANGED, Outcome
from tallix_cst.failures import EXIT_FAILED, EXIT_OK, EXIT_USAGE, STDIN, Failure, label


class Applying(Bulk):
    progress = True

    def __init__(self, args: argparse.Namespace) -> None:
        self.args = args
        self.write, self.all_or_nothing = args.in_place, args.all_or_nothing

    def outcomes(self, paths: List[str]) -> Generator[List[Outcome], None, None]:
        options = edits.Options(self.args.in_place, self.args.diff, max_size=self.args.max_file_size)
        jobs = self.args.jobs or os.cpu_count() or 1
        limits = batch.Limits(self.args.timeout or None, self.args.max_memory or None)
        start = (self.args.script, options, limits.memory)
        return batch.run(codemod.apply, paths, jobs, codemod.lost, codemod.start, start, limits)

    def shown(self, outcome: Outcome) -> bytes:
        if outcome.state != CHANGED:
            return b""
        if self.args.diff:
            text = diff_of(outcome.path, outcome.before, outcome.after)
        else:
            text = label(outcome.path) + "\n"
        return text.encode("utf-8", "surrogateescape")

    def finish(self, counts: Counts, written: bool) -> int:
        changed, unchanged, failed = counts.values()
        word = "changed" if written else "would change"
        say(f"{changed} {word}, {unchanged} unchanged, {failed} failed")
        return EXIT_FAILED if self.args.check and changed else EXIT_OK


def cmd_apply(args: argparse.Namespace) -> int:
    if args.all_or_nothing and not args.in_place:
        raise Failure("quarel apply: error: --all-or-nothing needs --in-place", EXIT_USAGE)
    if STDIN in args.paths:
        raise Failure("quarel apply: error: the script runs over files, not standard input", EXIT_USAGE)
    return run(Applying(args), files(args))
