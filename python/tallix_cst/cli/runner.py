"""The one runner of every bulk command (`set`, `add`, `rm`, `rename`, `comment`, `fmt`,
`apply`, `check`).

It expands the paths and takes each file once; has the command work on each file, in
this process or in worker processes; writes the changes through `edits.Writes` (each
file locked, and checked as the last step to be still the file read), or with
`--all-or-nothing` all of them or none; reports every file, then one summary; and
returns the exit status by the same rules for all commands:

- 0 when all went well;
- 1 for what is wrong in a file's content (it does not parse, a problem against its
  schema, an edit its pairs refuse), or where the command says so: a change found with
  `--check` or `--diff`, a selector that matches nothing;
- 2 for usage and I/O errors (a file that cannot be read or may not be written);
- 130 when interrupted: the writes under way finish and are listed first.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
from typing import Dict, Generator, Iterable, List

from tallix_cst import interrupts, walk
from tallix_cst.cli.output import Progress, out, say
from tallix_cst.config import ConfigError, Configs
from tallix_cst.edits import CHANGED, FAILED, UNCHANGED, Outcome, Writes
from tallix_cst.failures import EXIT_OK, EXIT_USAGE, STDIN, Failure, label

EXIT_INTERRUPTED = 130

Counts = Dict[str, int]


class Bulk:
    """A bulk command: what it does to each file and what it shows; the runner does the
    rest."""

    #: Write the changes (--in-place), and with `all_or_nothing` all or none.
    write = False
    all_or_nothing = False
    #: A progress bar, on a terminal.
    progress = False

    def outcomes(self, paths: List[str]) -> Generator[List[Outcome], None, None]:
        """Each file's outcome, in the order of the paths, as many at a time as are ready;
        here, one at a time, in this process."""
        for path in paths:
            yield [self.outcome(path)]

    def outcome(self, path: str) -> Outcome:
        raise NotImplementedError

    def shown(self, outcome: Outcome) -> bytes:
        """What standard output shows of a file that did not fail."""
        return b""

    def finish(self, counts: Counts, written: bool) -> int:
        """Shows what ends the output, and the summary; the status the command asks for
        beyond its failures'. `written`: the changes were written."""
        return EXIT_OK


def files(args: argparse.Namespace) -> List[str]:
    """The files the command's paths stand for, each once (see `walk`; all of them with
    --no-ignore); a notice for each folder that holds none."""
    configs = Configs()
    found: List[str] = []
    try:
        for path in args.paths:
            below = list(walk.quarel_files([path], not args.no_ignore, configs, strict=True))
            if not below and path != STDIN and os.path.isdir(path):
                say(f"quarel: no *.quarel files in {label(path)}")
            found += below
    except ConfigError as e:
        raise Failure(str(e), EXIT_USAGE) from None
    return walk.distinct_files(found)


def run(command: Bulk, paths: List[str]) -> int:
    """Runs the command over the files; the exit status."""
    counts: Counts = {CHANGED: 0, UNCHANGED: 0, FAILED: 0}
    status = EXIT_OK
    kept: List[Outcome] = []  # with all_or_nothing, the changes, until every file is done
    bar = Progress(len(paths), command.progress)

    def report(outcomes: Iterable[Outcome]) -> None:
        """Counts the outcomes, reports the failures and shows the rest."""
        nonlocal status
        taken = list(outcomes)
        if not taken:
            return
        # Ctrl-C waits for the outcomes taken to be shown: a file written is always listed.
        # (Holding the signals costs more than reading a small file: only where a file
        # may have been written.)
        held = interrupts.deferred() if command.write else contextlib.nullcontext()
        with held, bar.printing():
            shown = []
            for outcome in taken:
                counts[outcome.state] += 1
                if outcome.state == FAILED:
                    say(outcome.message)
                    status = max(status, outcome.status)
                else:
                    shown.append(command.shown(outcome))
            if any(shown):
                out(sys.stdout, "", raw=b"".join(shown))

    written, interrupted = command.write and not command.all_or_nothing, False
    ready = command.outcomes(paths)
    with interrupts.stops_unwind(), Writes() as writes, contextlib.closing(ready), bar:
        try:
            for outcomes in ready:
                bar.advance(len(outcomes))
                for outcome in outcomes:
                    writable = command.write and outcome.path != STDIN
                    if command.all_or_nothing and writable and outcome.state == CHANGED:
                        if outcome.lock is not None:  # locked again, all in one order, to be written
                            outcome.lock.release()
                        kept.append(outcome)
                    else:
                        writes.add(outcome, writable)
                report(writes.settled())
            bar.close()
            if command.all_or_nothing:
                written = command.write and not counts[FAILED]
                if kept and written:
                    kept, written = writes.all_or_nothing(kept)
            report(kept)
        except KeyboardInterrupt:
            interrupted = True
        finally:
            # The writes under way finish, and each is listed, even after Ctrl-C.
            with interrupts.deferred():
                report(writes.settled(wait=True))
    if interrupted:
        say("quarel: interrupted")
        return EXIT_INTERRUPTED
    return max(status, command.finish(counts, written))
