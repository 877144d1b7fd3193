"""`quarel schema infer`: a schema that every given file satisfies, written to standard
output or to a file."""

from __future__ import annotations

import argparse
import sys

from tallix_cst.cli.output import out, say
from tallix_cst.cli.runner import files
from tallix_cst.failures import EXIT_OK, EXIT_USAGE, Failure, label, read
from tallix_cst.schema.infer import dumps, infer
from tallix_cst.writing import write_file


def cmd_infer(args: argparse.Namespace) -> int:
    """Every file is read first: a file that cannot be read or does not parse is reported,
    and then no schema is written, since it would not say what that file holds."""
    paths = files(args)
    documents, status = [], EXIT_OK
    for path in paths:
        try:
            documents.append(read(path, args.max_file_size)[1])
        except Failure as e:
            say(str(e))
            status = max(status, e.status)
    if status != EXIT_OK:
        say("quarel schema infer: no schema written: every file must be read")
        return status
    if not documents:
        raise Failure("quarel schema infer: error: no files to infer a schema from", EXIT_USAGE)
    text = dumps(infer(documents))
    if args.output is None:
        out(sys.stdout, text)
        return EXIT_OK
    try:
        write_file(args.output, text.encode())
    except OSError as e:
        raise Failure(f"{label(args.output)}: error: {e.strerror or e}", EXIT_USAGE) from None
    say(f"quarel: wrote the schema of {len(documents)} file{'s' * (len(documents) != 1)} to {label(args.output)}")
    return EXIT_OK
