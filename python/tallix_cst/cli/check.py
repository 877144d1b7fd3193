"""`quarel check`: every syntax error of each file and, for a file that parses, its
problems against its schema, in file and position order; as `path:line:column: message`
lines, one JSON list, or GitHub workflow annotations. Through the one runner, in worker
processes when there are many files."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Any, Dict, Generator, List, Optional

from tallix_cst import batch
from tallix_cst.cli.output import out, plain_path, say
from tallix_cst.cli.runner import Bulk, Counts, files, run
from tallix_cst.config import ConfigError, Configs
from tallix_cst.edits import FAILED, UNCHANGED, Outcome, failed
from tallix_cst.failures import EXIT_FAILED, EXIT_OK, EXIT_USAGE, Failure, label, read_bytes
from tallix_cst.schema.association import Schemas, Source, schema_source
from tallix_cst.schema.check import file_problems
from tallix_cst.schema.refs import SchemaError

FORMATS = ("text", "json", "github")
# Below this many files per process, starting the processes costs more than it saves
# (bench/cli_check.py, two quiet cores: -j 2 gained nothing at 10,000 files, and took
# 0.72 s against 1.0 s at 40,000).
FILES_PER_JOB = 10000
# The fields of a problem, in the order `--output-format json` writes them.
FIELDS = ("path", "line", "column", "end_line", "end_column", "message", "selector", "keyword", "severity")


class Checking(Bulk):
    """The problems of each file. The configuration of every file, and the schemas it
    names for them, are read before any file is checked: one that cannot be used ends
    the run."""

    def __init__(self, args: argparse.Namespace, paths: List[str]) -> None:
        self.args = args
        self.configs, self.schemas = Configs(), Schemas()
        self.problems = 0
        self.with_problems = 0
        try:
            if args.schema is not None:
                self.schemas.load(Source(args.schema, "--schema"))
        except SchemaError as e:
            raise Failure(f"quarel check: error: --schema {e}", EXIT_USAGE) from None
        try:
            for path in paths:
                # The schema the configuration gives the file, as if it had no directive.
                source = schema_source(path, b"", None, self.configs)
                if source is not None:
                    self.schemas.load(source)
        except (ConfigError, SchemaError) as e:
            raise Failure(str(e), EXIT_USAGE) from None

    def outcomes(self, paths: List[str]) -> Generator[List[Outcome], None, None]:
        jobs = self.args.jobs or max(1, min(os.cpu_count() or 1, len(paths) // FILES_PER_JOB))
        if jobs <= 1:
            yield from ([self.outcome(path)] for path in paths)
        else:
            yield from batch.run(check_file, paths, jobs, lost, start, (self,))

    def outcome(self, path: str) -> Outcome:
        try:
            data = read_bytes(path, self.args.max_file_size)
            problems = file_problems(path, self.args.schema, self.schemas, self.configs, data)
        except (ConfigError, SchemaError) as e:
            return failed(path, Failure(str(e), EXIT_USAGE))
        except Exception as e:
            return failed(path, e)
        outcome = Outcome(path, UNCHANGED)
        for problem in problems:
            at = problem.location
            outcome.problems.append(dict(zip(FIELDS, (
                path if self.args.output_format == "text" else plain_path(path), at.line, at.column, at.end_line, at.end_column,
                problem.message, problem.selector, problem.keyword, problem.severity,
            ))))
        return outcome

    def shown(self, outcome: Outcome) -> bytes:
        lines = []
        for problem in outcome.problems:
            lines.append(self.line(problem, first=self.problems == 0))
            self.problems += 1
        self.with_problems += bool(outcome.problems)
        return "".join(lines).encode("utf-8", "surrogateescape")

    def line(self, problem: Dict[str, Any], first: bool) -> str:
        if self.args.output_format == "json":
            return ("[\n  " if first else ",\n  ") + json.dumps(problem, ensure_ascii=False)
        if self.args.output_format == "github":
            return annotation(problem)
        return f"{label(problem['path'])}:{problem['line']}:{problem['column']}: {problem['message']}\n"

    def finish(self, counts: Counts, written: bool) -> int:
        if self.args.output_format == "json":
            out(sys.stdout, "\n]\n" if self.problems else "[]\n")
        checked = counts[UNCHANGED]
        found = f"{self.problems} problem{'s' * (self.problems != 1)}" if self.problems else "no problems"
        where = f"in {self.with_problems} of {checked}" if self.problems else f"in {checked}"
        say(f"{found} {where} file{'s' * (checked != 1)}, {counts[FAILED]} failed")
        return EXIT_FAILED if self.problems else EXIT_OK


def annotation(problem: Dict[str, Any]) -> str:
    """A GitHub workflow command that marks the problem's place in a pull request."""
    command = {"warning": "warning", "notice": "notice"}.get(problem["severity"], "error")
    properties = ",".join(
        f"{name}={_escaped(str(problem[key]), property=True)}"
        for name, key in [("file", "path"), ("line", "line"), ("col", "column"),
                          ("endLine", "end_line"), ("endColumn", "end_column")]
    )
    return f"::{command} {properties}::{_escaped(problem['message'])}\n"


def _escaped(text: str, property: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    return text.replace(":", "%3A").replace(",", "%2C") if property else text


# The worker processes' checker, set by `start`.
_checking: Optional[Checking] = None


def start(checking: Checking) -> None:
    global _checking
    _checking = checking


def check_file(path: str) -> Outcome:
    assert _checking is not None, "start() comes first"
    return _checking.outcome(path)


def lost(path: str, why: str) -> Outcome:
    """The outcome of a file whose worker process ended while on it."""
    return Outcome(path, FAILED, f"{label(path)}: error: the process reading it ended ({why})", EXIT_USAGE)


def cmd_check(args: argparse.Namespace) -> int:
    paths = files(args)
    return run(Checking(args, paths), paths)
