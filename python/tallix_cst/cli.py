"""The `quarel` command line tool: check, read and edit Quarel files in bulk from the shell."""

from __future__ import annotations

import argparse
import contextlib
import functools
import itertools
import json
import os
import sys
from pathlib import Path
from typing import (
    IO,
    TYPE_CHECKING,
    Callable,
    Iterable,
    Iterator,
    List,
    Optional,
    Sequence,
    Set,
    Tuple,
    Union,
    cast,
    get_args,
)

from tallix_cst import __version__, batch, codemod, edits, format_options, interrupts
from tallix_cst._native import Document, Pair
from tallix_cst.data import list_from_json
from tallix_cst.diff import unified_diff
from tallix_cst.failures import (
    EXIT_FAILED,
    EXIT_OK,
    EXIT_USAGE,
    STDIN,
    Failure,
    described,
    label,
    quoted,
    read,
)
from tallix_cst.files import MAX_SIZE, loads, quarel_files, size_text
from tallix_cst.json_stream import JsonStream
from tallix_cst.lock import FileLock
from tallix_cst.selector import Node, Selector, is_container
from tallix_cst.values import ValueKind

EXIT_INTERRUPTED = 130
# Below this many files per process, starting the processes costs more than it saves
# (bench/cli_check.py, two quiet cores: -j 2 gained nothing at 10,000 files, and took
# 0.72 s against 1.0 s at 40,000).
FILES_PER_JOB = 10000
KINDS = list(get_args(ValueKind))

if TYPE_CHECKING:
    from tallix_cst.values import NewValue

# An edit of one document: returns how many pairs it acted on.
Edit = Callable[[str, Document], int]


class OutputError(Exception):
    """Standard output is closed or full: the command cannot go on."""

    status = EXIT_USAGE


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


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarel",
        description="Check, read and edit Quarel files without losing their layout. A "
        "SELECTOR names pairs: /-separated segments, each key or key:name, with the shell's "
        "wildcards *, ? and [...] (a backslash makes /, *, ?, [ or \\ literal); / alone names "
        "the document. A PATH is a file (- for standard input) or a folder, which stands for "
        "every *.quarel file below it. Exit status: 0 success, 1 nothing matched or a file "
        "does not parse, 2 a usage or I/O error, 130 interrupted.",
    )
    parser.add_argument("--version", action="version", version=f"quarel {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    check = commands.add_parser(
        "check",
        help="report files that do not parse",
        description="Parse each file and print path:line:column: message for every file that "
        "does not. Exit status: 0 when all parse, 1 when any does not, 2 for I/O errors.",
    )
    add_paths(check)
    add_jobs(check, "default: one per core when there are many files")
    check.set_defaults(run=cmd_check)

    get = commands.add_parser(
        "get",
        help="print values",
        description="Print the value of every matching pair: text as it is, a list as JSON "
        '(a pair in a list as a one-key object, {"status": "open"}), a block as its source. '
        "With more than one file each line starts with the file's name.",
    )
    add_selector(get)
    add_paths(get)
    get.set_defaults(run=cmd_get)

    to_json = commands.add_parser(
        "json",
        help="print pairs as JSON",
        description="Print each document, or the pairs that --select matches, as a JSON list "
        "of objects with key, name, kind, value and children. With more than one file, an "
        "object maps each file's name to its list.",
    )
    add_paths(to_json)
    to_json.add_argument("--select", type=selector, metavar="SELECTOR", help="the pairs to print")
    to_json.set_defaults(run=cmd_json)

    set_ = commands.add_parser(
        "set",
        help="change or add values",
        description="Give every matching pair a new value, keeping its layout and, unless "
        "--kind says otherwise, its kind. Where the last segment is a plain key that a "
        'matching block lacks, the pair is added. A list value is a JSON array, such as ["a", '
        '1.5e3, {"status": "open"}], a one-key object being a pair, or an object for a list of '
        "pairs; numbers, true, false and null are written as they are given.",
    )
    add_selector(set_)
    set_.add_argument("value", metavar="VALUE", help="the new value")
    add_paths(set_)
    set_.add_argument("--kind", choices=KINDS, help="the kind of the new value")
    add_output(set_)
    set_.set_defaults(run=cmd_set)

    add = commands.add_parser(
        "add",
        help="insert pairs from a source snippet",
        description="Parse the snippet and insert its pairs into every matching block (/ for "
        "the document), indented and spaced like their neighbours.",
    )
    add_selector(add)
    add_paths(add)
    add.add_argument("--source", required=True, metavar="SNIPPET", help="Quarel source to insert")
    add.add_argument(
        "--index",
        type=int,
        metavar="N",
        help="position among the block's pairs; negative counts from the end (default: the end)",
    )
    add_output(add)
    add.set_defaults(run=cmd_add)

    rm = commands.add_parser(
        "rm",
        help="remove pairs",
        description="Remove every matching pair, with the comments above it.",
    )
    add_selector(rm)
    add_paths(rm)
    add_output(rm)
    rm.set_defaults(run=cmd_rm)

    rename = commands.add_parser(
        "rename",
        help="change keys and block names",
        description="Give every matching pair the key NEW; NEW written key:name also names "
        "the block.",
    )
    add_selector(rename)
    rename.add_argument("new", type=new_name, metavar="NEW", help="key or key:name")
    add_paths(rename)
    add_output(rename)
    rename.set_defaults(run=cmd_rename)

    comment = commands.add_parser(
        "comment",
        help="print or replace the comments above pairs",
        description="Print the comment lines above every matching pair, or replace them "
        "with --set lines (# is added where a line lacks one), or remove them with --clear.",
    )
    add_selector(comment)
    add_paths(comment)
    replace = comment.add_mutually_exclusive_group()
    replace.add_argument(
        "--set", action="append", dest="lines", metavar="LINE", help="a new comment line"
    )
    replace.add_argument("--clear", action="store_true", help="remove the comments")
    add_output(comment)
    comment.set_defaults(run=cmd_comment)

    apply = commands.add_parser(
        "apply",
        help="run an edit script over files",
        description="SCRIPT.py defines edit(doc, path), which edits the document in place. "
        "Every file is parsed and handed to it; the files whose text changed are listed, "
        "diffed with --diff, or written with --in-place. A failure in one file is reported "
        "as path: message and the others go on. Exit status 1 when any file failed, and with "
        "--check also when any would change.",
    )
    apply.add_argument("script", metavar="SCRIPT.py")
    add_paths(apply)
    add_jobs(apply, "default: one per core")
    mode = apply.add_mutually_exclusive_group()
    mode.add_argument("--diff", action="store_true", help="print a unified diff of each change")
    mode.add_argument("-i", "--in-place", action="store_true", help="write the changed files")
    mode.add_argument("--check", action="store_true", help="fail when any file would change")
    apply.add_argument(
        "--all-or-nothing",
        action="store_true",
        help="with --in-place, write nothing unless every file succeeded",
    )
    apply.add_argument(
        "--timeout",
        type=float,
        default=codemod.TIMEOUT,
        metavar="SECONDS",
        help=f"fail a file whose edit takes longer (0: no limit; default: {codemod.TIMEOUT})",
    )
    apply.add_argument(
        "--max-memory",
        type=size,
        default=codemod.MAX_MEMORY,
        metavar="SIZE",
        help="the memory each process may take beyond what it starts with; a file whose edit "
        f"needs more fails (0: no limit; default: {size_text(codemod.MAX_MEMORY)})",
    )
    apply.set_defaults(run=cmd_apply)

    fmt = commands.add_parser(
        "fmt",
        help="format files",
        description="Lay every file out regularly, changing whitespace only, and write the "
        "files that change (- formats standard input to standard output). Each option comes "
        "from the command line, else from the [tool.quarel.format] table of the nearest "
        f"pyproject.toml ({', '.join(format_options.OPTIONS)}), "
        "else from .editorconfig (indent_style, indent_size, end_of_line, max_line_length, "
        "insert_final_newline), else it is the default given below; final_newline defaults "
        "to true. Trailing spaces and tabs are always trimmed, outside strings and "
        "expressions, whatever trim_trailing_whitespace says. Exit status: 0 success, 1 a "
        "file does not parse (the others are still "
        "formatted) or, with --check or --diff, would change, 2 a usage or I/O error, 130 "
        "interrupted.",
    )
    add_paths(fmt)
    mode = fmt.add_mutually_exclusive_group()
    mode.add_argument("--check", action="store_true", help="list the files that would change")
    mode.add_argument("--diff", action="store_true", help="print a unified diff of each change")
    fmt.add_argument(
        "--indent",
        type=checked_option("indent", lambda text: format_options.indent_string(number(text))),
        metavar="N|tab",
        help="the indent step: N spaces or a tab (default: the file's own)",
    )
    fmt.add_argument(
        "--newline",
        choices=list(format_options.NEWLINES),
        help="the line break (default: the file's own)",
    )
    fmt.add_argument(
        "--max-blank-lines",
        type=checked_option("max_blank_lines", number),
        metavar="N",
        help="the blank lines allowed in a row (default: "
        f"{format_options.DEFAULTS['max_blank_lines']})",
    )
    fmt.add_argument(
        "--column-width",
        type=checked_option("column_width", number),
        metavar="N",
        help="the width past which a one-line list or block is split (default: "
        f"{format_options.DEFAULTS['column_width']})",
    )
    fmt.set_defaults(run=cmd_fmt)

    lsp = commands.add_parser(
        "lsp",
        help="run the language server",
        description="Run the language server on standard input and output, for editors: "
        "syntax errors as they are typed, outline, folding, hover, highlighting, completion of "
        "keys, rename of block names and workspace symbols. Exit status: 0 after the editor's "
        "shutdown and exit, 1 when it ends otherwise.",
    )
    # Editors' client libraries pass --stdio; standard input and output are all it uses.
    lsp.add_argument("--stdio", action="store_true", help="talk over standard input and output")
    lsp.add_argument("--version", action="version", version=f"quarel lsp {__version__}")
    lsp.set_defaults(run=cmd_lsp)
    return parser


def add_selector(command: argparse.ArgumentParser) -> None:
    command.add_argument("selector", type=selector, metavar="SELECTOR", help="the pairs to act on")


def add_paths(command: argparse.ArgumentParser) -> None:
    command.add_argument("paths", nargs="+", metavar="PATH", help="files and folders")
    command.add_argument(
        "--max-file-size",
        type=size,
        default=MAX_SIZE,
        metavar="SIZE",
        help="refuse a file larger than this, such as 500M or 2G "
        f"(default: {size_text(MAX_SIZE)})",
    )


def add_jobs(command: argparse.ArgumentParser, default: str) -> None:
    command.add_argument(
        "-j", "--jobs", type=int, default=0, metavar="N", help=f"number of processes ({default})"
    )


def add_output(command: argparse.ArgumentParser) -> None:
    command.add_argument(
        "-i",
        "--in-place",
        action="store_true",
        help="write the files back (atomically, keeping mode, owner and links) instead of printing them",
    )
    command.add_argument(
        "--diff", action="store_true", help="print a unified diff instead of the documents"
    )


def selector(text: str) -> Selector:
    try:
        return Selector(text)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


def size(text: str) -> int:
    """A size in bytes, given as a whole number with K, M or G (powers of 1024) or none."""
    digits, unit = (text[:-1], text[-1].upper()) if text[-1:].isalpha() else (text, "")
    if not digits.isdigit() or unit not in ("", "K", "M", "G"):
        raise argparse.ArgumentTypeError(f"`{text}` is not a size: write N, NK, NM or NG")
    return int(digits) << {"": 0, "K": 10, "M": 20, "G": 30}[unit]


def number(text: str) -> Union[int, str]:
    """A whole number given as text; any other text as it is."""
    try:
        return int(text)
    except ValueError:
        return text


def checked_option(key: str, convert: Callable[[str], object]) -> Callable[[str], object]:
    """The argument's value, once the formatter accepts it for the option."""

    def parse(text: str) -> object:
        try:
            return format_options.checked(key, convert(text))
        except ValueError as e:
            raise argparse.ArgumentTypeError(str(e)) from None

    return parse


def new_name(text: str) -> Tuple[str, Optional[str]]:
    key, colon, name = text.partition(":")
    if not key or (colon and not name):
        raise argparse.ArgumentTypeError(f"`{text}` is not a new name: write key or key:name")
    return key, name if colon else None


# Reading commands


def cmd_check(args: argparse.Namespace) -> int:
    paths = list(quarel_files(args.paths))
    jobs = args.jobs or max(1, min(os.cpu_count() or 1, len(paths) // FILES_PER_JOB))
    status = EXIT_OK
    check = functools.partial(check_file, max_size=args.max_file_size)
    checked = (
        map(check, paths)
        if jobs <= 1
        else itertools.chain.from_iterable(batch.run(check, paths, jobs, unread))
    )
    for code, line in checked:
        if line:
            out(sys.stdout if code == EXIT_FAILED else sys.stderr, line + "\n")
        status = max(status, code)
    return status


def check_file(path: str, max_size: int) -> Tuple[int, str]:
    """The exit status, and the line to report."""
    try:
        read(path, max_size)
    except Failure as e:
        return e.status, str(e)
    return EXIT_OK, ""


def unread(path: str, why: str) -> Tuple[int, str]:
    return EXIT_USAGE, f"{label(path)}: error: the process reading it ended ({why})"


def cmd_get(args: argparse.Namespace) -> int:
    paths = list(quarel_files(args.paths))

    def show(name: str, doc: Document) -> int:
        matches = args.selector.select(doc)
        for node in matches:
            out(sys.stdout, prefixed(name, printed_value(node), len(paths) > 1))
        return len(matches)

    return for_each_file(paths, args.selector, show, args.max_file_size)


def printed_value(node: Node) -> str:
    """The document as it is; a pair's text as it is, a list as JSON, a block as its source
    at the left margin; each on lines of its own."""
    if isinstance(node, Document):
        return node.to_string()
    if node.kind == "block":
        return node.to_string(dedent=True) + "\n"
    if node.kind == "list":
        return json.dumps(node.to_data()["value"], ensure_ascii=False) + "\n"
    return cast(str, node.value) + "\n"


def cmd_json(args: argparse.Namespace) -> int:
    paths = list(quarel_files(args.paths))
    stream = JsonStream(lambda text: out(sys.stdout, text), len(paths) > 1)

    def show(name: str, doc: Document) -> int:
        nodes = doc.children if args.select is None else args.select.select(doc)
        stream.file(name, (node.to_data() for node in nodes))
        return 1 if args.select is None else len(nodes)

    status = for_each_file(paths, args.select, show, args.max_file_size)
    stream.close()
    return status


def cmd_comment(args: argparse.Namespace) -> int:
    chosen = pair_selector(args)
    if args.lines is None and not args.clear:
        if args.in_place or args.diff:
            raise Failure(
                "quarel comment: error: --in-place and --diff need --set or --clear", EXIT_USAGE
            )
        paths = list(quarel_files(args.paths))

        def show(name: str, doc: Document) -> int:
            pairs = pairs_of(chosen, doc)
            for pair in pairs:
                out(
                    sys.stdout,
                    "".join(prefixed(name, line + "\n", len(paths) > 1) for line in pair.comments),
                )
            return len(pairs)

        return for_each_file(paths, args.selector, show, args.max_file_size)

    def replace(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            pair.comments = args.lines or []
        return len(pairs)

    return edit_files(args, replace)


# Editing commands


def cmd_set(args: argparse.Namespace) -> int:
    last = pair_selector(args).segments[-1]
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
    chosen = pair_selector(args)

    def remove(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            pair.detach()
        return len(pairs)

    return edit_files(args, remove)


def cmd_rename(args: argparse.Namespace) -> int:
    chosen = pair_selector(args)
    key, new = args.new

    def rename(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            pair.key = key
            if new is not None:
                pair.name = new
        return len(pairs)

    return edit_files(args, rename)


def containers(name: str, chosen: Selector, doc: Document) -> List[Node]:
    """The matches that are blocks (or the document). Wildcards may match other pairs too,
    which are passed over; a failure when no match is a block."""
    nodes = chosen.select(doc)
    blocks = [node for node in nodes if is_container(node)]
    if nodes and not blocks:
        pair = cast(Pair, nodes[0])
        raise Failure(f"{name}: error: `{pair.key}` is a {pair.kind}, not a block", EXIT_FAILED)
    return blocks


def pair_selector(args: argparse.Namespace) -> Selector:
    """The selector of a command that acts on pairs."""
    if not args.selector.segments:
        raise Failure(
            f"quarel {args.command}: error: `/` names the document, not a pair", EXIT_USAGE
        )
    return cast(Selector, args.selector)


def pairs_of(chosen: Selector, doc: Document) -> List[Pair]:
    return cast(List[Pair], chosen.select(doc))


# Running commands over files


def for_each_file(
    paths: Sequence[str], chosen: Optional[Selector], act: Edit, max_size: int
) -> int:
    """Runs `act` on each file's document; a file that fails is reported and the others go
    on. Status 1 when the selector matched nothing at all."""
    status, matched = EXIT_OK, 0
    for path in paths:
        try:
            matched += act(label(path), read(path, max_size)[1])
        except Failure as e:
            status = report(e, status)
    return nothing_matched(paths, chosen, matched, status)


def nothing_matched(
    paths: Sequence[str], chosen: Optional[Selector], matched: int, status: int
) -> int:
    """The status, or 1 after saying so when the selector matched nothing in files that
    could all be read."""
    if matched or chosen is None or status != EXIT_OK:
        return status
    if not paths:
        say("quarel: no *.quarel files in the folders given")
    else:
        where = label(paths[0]) if len(paths) == 1 else f"{len(paths)} files"
        say(f"quarel: `{chosen}` matches nothing in {where}")
    return EXIT_FAILED


def edit_files(args: argparse.Namespace, edit: Edit) -> int:
    """Edits each file, then prints, diffs or writes back the result. With --in-place a file
    that cannot be written is refused before it is read, and each file is locked from before
    it is read until it is written; the writes overlap, and those that fail are reported
    last. A file whose edit fails stays as it was. A run that matches nothing prints no
    document."""
    paths = list(quarel_files(args.paths))
    printed = not (args.in_place or args.diff)
    options = edits.Options(args.in_place, args.diff, printed, args.max_file_size)
    status, matched, unwritten = EXIT_OK, 0, []
    unprinted: List[Tuple[str, bytes]] = []  # documents, until anything matches
    with interrupts.stops_unwind(), edits.Writes() as writes:
        for path in paths:
            name = label(path)

            def edit_one(doc: Document) -> None:
                nonlocal matched
                try:
                    matched += edit(name, doc)
                except (TypeError, ValueError) as e:  # a value the pair cannot hold, a bad key
                    raise Failure(f"{name}: error: {e}", EXIT_USAGE) from None

            lock = FileLock(path) if args.in_place else None
            outcome = edits.edit_file(path, edit_one, options, lock)
            if outcome.state == edits.FAILED:
                status = report(outcome.failure(), status)
                continue
            if args.diff:
                out(sys.stdout, unified_diff(outcome.before, outcome.after, name))
            elif printed:
                assert outcome.data is not None, "Options.printed hands the bytes back"
                unprinted.append((f"==> {name} <==\n" if len(paths) > 1 else "", outcome.data))
                if matched:
                    for header, text in unprinted:
                        out(sys.stdout, header, raw=text)
                    unprinted.clear()
            writes.add(outcome, args.in_place, lock)
            unwritten += [o for o in writes.settled() if o.state == edits.FAILED]
        unwritten += [o for o in writes.settled(wait=True) if o.state == edits.FAILED]
    for outcome in unwritten:
        status = report(outcome.failure(), status)
    return nothing_matched(paths, args.selector, matched, status)


def report(failure: Failure, status: int) -> int:
    """Says what failed; the exit status with it."""
    say(str(failure))
    return max(status, failure.status)


def cmd_lsp(args: argparse.Namespace) -> int:
    from tallix_cst.lsp.server import serve  # the protocol's libraries load for this alone

    return serve()


def cmd_apply(args: argparse.Namespace) -> int:
    if args.all_or_nothing and not args.in_place:
        raise Failure("quarel apply: error: --all-or-nothing needs --in-place", EXIT_USAGE)
    if STDIN in args.paths:
        raise Failure(
            "quarel apply: error: the script runs over files, not standard input", EXIT_USAGE
        )
    paths = distinct_files(quarel_files(args.paths))
    keep = args.all_or_nothing  # the changes, written once every file has succeeded
    options = edits.Options(args.in_place, args.diff, max_size=args.max_file_size)
    counts = {edits.CHANGED: 0, edits.UNCHANGED: 0, edits.FAILED: 0}
    status, kept, would, interrupted = EXIT_OK, [], not args.in_place, False
    bar = Progress(len(paths))

    def show(outcomes: Iterable[edits.Outcome]) -> None:
        """Counts the outcomes; lists the changes (written, with --in-place) and reports
        the failures."""
        nonlocal status
        # Ctrl-C waits for the outcomes taken to be shown: a file written is always listed.
        with interrupts.deferred(), bar.printing():
            listed = []
            for outcome in outcomes:
                counts[outcome.state] += 1
                if outcome.state == edits.FAILED:
                    status = report(outcome.failure(), status)
                elif outcome.state == edits.CHANGED and args.diff:
                    listed.append(unified_diff(outcome.before, outcome.after, label(outcome.path)))
                elif outcome.state == edits.CHANGED:
                    listed.append(label(outcome.path) + "\n")
            if listed:
                out(sys.stdout, "".join(listed))

    jobs = args.jobs or os.cpu_count() or 1
    limits = batch.Limits(args.timeout or None, args.max_memory or None)
    start = (args.script, options, limits.memory)
    ready = batch.run(codemod.apply, paths, jobs, codemod.lost, codemod.start, start, limits)
    with interrupts.stops_unwind(), edits.Writes() as writes, contextlib.closing(ready), bar:
        try:
            for outcomes in ready:
                bar.advance(len(outcomes))
                for outcome in outcomes:
                    if keep and outcome.state == edits.CHANGED:
                        kept.append(outcome)
                    else:
                        writes.add(outcome, args.in_place)
                show(writes.settled())
            bar.close()
            if keep:
                would = counts[edits.FAILED] > 0
                if kept and not would:
                    kept, written = writes.all_or_nothing(kept)
                    would = not written
                show(kept)
        except KeyboardInterrupt:
            interrupted = True
        finally:
            # The writes under way finish, and each is listed, even after Ctrl-C.
            with interrupts.deferred():
                show(writes.settled(wait=True))
    changed, unchanged, failed = counts.values()
    word = "would change" if would else "changed"
    say(f"{changed} {word}, {unchanged} unchanged, {failed} failed")
    if interrupted:
        say("quarel: interrupted")
        return EXIT_INTERRUPTED
    if args.check and changed:
        status = max(status, EXIT_FAILED)
    return status


def cmd_fmt(args: argparse.Namespace) -> int:
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
    paths = distinct_files(quarel_files(args.paths))
    try:  # every file's, before any is touched
        configuration = format_options.Configuration()
        chosen = [configuration.options(Path(path), given) for path in paths]
    except ValueError as e:
        raise Failure(str(e), EXIT_USAGE) from None
    write = not (args.check or args.diff)
    counts = {edits.CHANGED: 0, edits.UNCHANGED: 0, edits.FAILED: 0}
    status = EXIT_OK

    def tally(outcomes: Iterable[edits.Outcome]) -> None:
        nonlocal status
        for outcome in outcomes:
            counts[outcome.state] += 1
            if outcome.state == edits.FAILED:
                status = report(outcome.failure(), status)

    with interrupts.stops_unwind(), edits.Writes() as writes:
        for path, options in zip(paths, chosen):
            printed = write and path == STDIN  # standard input is formatted to standard output
            mode = edits.Options(write and not printed, args.diff, printed, args.max_file_size)
            lock = FileLock(path) if mode.write else None
            outcome = edits.edit_file(path, formatter(label(path), options), mode, lock)
            if outcome.state == edits.CHANGED and args.check:
                out(sys.stdout, f"would reformat {quoted(path)}\n")
            elif outcome.state == edits.CHANGED and args.diff:
                out(sys.stdout, unified_diff(outcome.before, outcome.after, quoted(path)))
            elif printed and outcome.data is not None:
                out(sys.stdout, "", raw=outcome.data)
            writes.add(outcome, mode.write, lock)
            tally(writes.settled())
        tally(writes.settled(wait=True))
    changed, unchanged, failed = counts.values()
    word = "reformatted" if write else "would reformat"
    say(f"{changed} {word}, {unchanged} unchanged, {failed} failed")
    return max(status, EXIT_FAILED) if changed and not write else status


def formatter(name: str, options: format_options.Options) -> Callable[[Document], None]:
    def format_one(doc: Document) -> None:
        try:
            format_options.format_document(doc, options)
        except ValueError as e:  # the check after formatting found a change of meaning
            raise Failure(f"{name}: error: {e}", EXIT_FAILED) from None

    return format_one


def distinct_files(paths: Iterable[str]) -> List[str]:
    """The paths, each file once: a path to a file named before (the same path again, a
    link to it) is passed over, so that no file is edited twice."""
    seen: Set[object] = set()
    distinct = []
    for path in paths:
        try:
            status = os.stat(path)
            key: object = (status.st_dev, status.st_ino)
        except OSError:
            key = path  # reported when it is read
        if key not in seen:
            seen.add(key)
            distinct.append(path)
    return distinct


class Progress:
    """A progress bar on standard error when it is a terminal, cleared while lines are
    printed."""

    def __init__(self, total: int) -> None:
        self._bar = None
        if sys.stderr.isatty():
            from tqdm import tqdm  # type: ignore[import-untyped]

            self._bar = tqdm(total=total, unit="file", leave=False)

    def advance(self, files: int) -> None:
        if self._bar is not None:
            self._bar.update(files)

    @contextlib.contextmanager
    def printing(self) -> Iterator[None]:
        if self._bar is None:
            yield
            return
        self._bar.clear()
        try:
            yield
        finally:
            self._bar.refresh()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None

    def __enter__(self) -> Progress:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()


# Output


def prefixed(name: str, text: str, many: bool) -> str:
    """With many files, every line starts with the file's name."""
    return "".join(f"{name}: {line}" for line in text.splitlines(keepends=True)) if many else text


def out(stream: IO[str], text: str, raw: bytes = b"") -> None:
    """Writes UTF-8 bytes, whatever the locale, never translating line breaks. A closed or
    full output ends the command."""
    binary: IO[bytes] = stream.buffer  # type: ignore[attr-defined]
    rest = memoryview(text.encode("utf-8", "surrogateescape") + raw)
    try:
        stream.flush()
        # Unbuffered (python -u, PYTHONUNBUFFERED) the stream writes straight to its file,
        # and a write that fills the disk returns short: the next one meets the error.
        while rest:
            rest = rest[binary.write(rest) :]
        binary.flush()
    except OSError as e:
        # Nothing more can be shown (`quarel json f | head`), and Python must not fail
        # again flushing what is left in the stream at exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, stream.fileno())
        os.close(devnull)
        if isinstance(e, BrokenPipeError):
            raise OutputError("quarel: error: the output was closed") from None
        raise OutputError(f"quarel: error: cannot write the output: {e.strerror or e}") from None


def say(line: str) -> None:
    """A line on standard error."""
    with contextlib.suppress(OutputError):
        out(sys.stderr, line + "\n")
