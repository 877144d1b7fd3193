"""The `quarel` command line tool: check, read and edit Quarel files from the shell."""

from __future__ import annotations

import argparse
import contextlib
import difflib
import json
import multiprocessing
import os
import re
import stat
import sys
import tempfile
from typing import TYPE_CHECKING, Any, Callable, Iterable, Iterator, List, Optional, Tuple, Union, cast

from tallix_cst import Document, NewValue, Pair, QuarelSyntaxError, parse_quarel

if TYPE_CHECKING:
    from tallix_cst._native import _ValueKind

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2
STDIN = "-"
# Below this many files per process, starting the processes costs more than it saves
# (bench/cli_check.py, two quiet cores: -j 2 gained nothing at 10,000 files, and took
# 0.72 s against 1.0 s at 40,000).
FILES_PER_JOB = 10000

Segment = Tuple[str, Optional[str]]
Container = Union[Document, Pair]


class Failure(Exception):
    """Ends a command: the diagnostic line to print and the exit status."""

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


def main(argv: Optional[List[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return int(args.run(args))
    except Failure as e:
        write(sys.stderr, f"{e}\n")
        return e.status
    except BrokenPipeError:
        # The reader went away (`quarel json f | head`): stop quietly, as other filters do.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_FAILED


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarel",
        description="Check, read and edit Quarel files without losing their layout. A path "
        "names a pair one segment per argument, `key` or `key:name` for a named block: "
        "view:users dimension:id type. Exit status: 0 success, 1 a path not found or a syntax "
        "error, 2 a usage or I/O error.",
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
    check.add_argument(
        "-j",
        "--jobs",
        type=int,
        default=0,
        metavar="N",
        help="number of processes (default: one per core when there are many files)",
    )
    check.set_defaults(run=cmd_check)

    get = commands.add_parser(
        "get",
        help="print a value",
        description="Print the value of the pair at the path: text as it is, a list as JSON "
        '(a pair in a list as a one-key object, {"status": "open"}), a block as its source. '
        "Exit status 1 when the path does not exist.",
    )
    add_file(get)
    add_path(get, "+")
    get.set_defaults(run=cmd_get)

    to_json = commands.add_parser(
        "json",
        help="print pairs as JSON",
        description="Print the document, or the pair at the path, as JSON: each pair an "
        "object with key, name, kind, value and children.",
    )
    add_file(to_json)
    add_path(to_json, "*")
    to_json.set_defaults(run=cmd_json)

    set_ = commands.add_parser(
        "set",
        help="change or add a value",
        description="Give the pair at the path a new value, keeping its layout and, unless "
        "--kind says otherwise, its kind. A missing last segment is added to its block. A "
        'list value is written as a JSON array, such as ["a", {"status": "open"}].',
    )
    add_file(set_)
    add_path(set_, "+")
    set_.add_argument("value", metavar="VALUE", help="the new value")
    set_.add_argument(
        "--kind",
        choices=["literal", "string", "expr", "list"],
        help="the kind of the new value (default: the pair's own, or inferred for a new pair)",
    )
    add_output(set_)
    set_.set_defaults(run=cmd_set)

    add = commands.add_parser(
        "add",
        help="insert pairs from a source snippet",
        description="Parse the snippet and insert its pairs into the block at the path (the "
        "document when no path is given), indented and spaced like their neighbours.",
    )
    add_file(add)
    add_path(add, "*")
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
        help="remove a pair",
        description="Remove the pair at the path, with the comments above it.",
    )
    add_file(rm)
    add_path(rm, "+")
    add_output(rm)
    rm.set_defaults(run=cmd_rm)
    return parser


def add_file(command: argparse.ArgumentParser) -> None:
    command.add_argument("file", metavar="FILE", help="the Quarel file; - reads standard input")


def add_path(command: argparse.ArgumentParser, count: str) -> None:
    command.add_argument(
        "segments", nargs=count, type=segment, metavar="SEGMENT", help="key or key:name"
    )


def add_output(command: argparse.ArgumentParser) -> None:
    command.add_argument(
        "-i",
        "--in-place",
        action="store_true",
        help="write the file (atomically, keeping its mode) instead of printing it",
    )
    command.add_argument(
        "--diff", action="store_true", help="print a unified diff instead of the document"
    )


def segment(text: str) -> Segment:
    key, colon, name = text.partition(":")
    if not key or (colon and not name):
        raise argparse.ArgumentTypeError(f"`{text}` is not a path segment: write key or key:name")
    return key, name if colon else None


# Commands


def cmd_check(args: argparse.Namespace) -> int:
    paths = list(quarel_files(args.paths))
    status = EXIT_OK
    for code, report in check_all(paths, args.jobs or auto_jobs(len(paths))):
        if report:
            write(sys.stdout if code == EXIT_FAILED else sys.stderr, report + "\n")
        status = max(status, code)
    return status


def cmd_get(args: argparse.Namespace) -> int:
    label, _, doc = load(args.file)
    pair = find_pair(label, doc, args.segments)
    if pair.kind == "block":
        text = outdented(pair)
    elif pair.kind == "list":
        text = json.dumps(value_to_json(pair.value), ensure_ascii=False)
    else:
        text = cast(str, pair.value)
    write(sys.stdout, text + "\n")
    return EXIT_OK


def outdented(pair: Pair) -> str:
    """The pair's source with its indentation removed, as if it stood at the top level."""
    text = pair.to_string()
    leading = pair.to_string(include_leading=True)[: -len(text)]
    indent = leading.rpartition("\n")[2] if "\n" in leading else ""
    return text.replace("\n" + indent, "\n") if indent else text


def cmd_json(args: argparse.Namespace) -> int:
    label, _, doc = load(args.file)
    tree: Any
    if args.segments:
        tree = pair_to_json(find_pair(label, doc, args.segments))
    else:
        tree = [pair_to_json(pair) for pair in doc]
    write(sys.stdout, json.dumps(tree, ensure_ascii=False, indent=2) + "\n")
    return EXIT_OK


def cmd_set(args: argparse.Namespace) -> int:
    *path, (key, name) = args.segments
    kind = cast("Optional[_ValueKind]", args.kind)

    def edit(label: str, doc: Document) -> None:
        container = find_container(label, doc, path)
        pair = container.find(key, name)
        if pair is None and name is not None:
            raise not_found(label, (key, name), path)
        if pair is not None and pair.kind == "block" and kind is None:
            raise Failure(f"{label}: error: `{key}` is a block; give --kind to replace it", EXIT_USAGE)
        as_list = kind == "list" or (kind is None and pair is not None and pair.kind == "list")
        value = list_value(label, args.value) if as_list else args.value
        try:
            if pair is None:
                container.add(key, value, kind=kind)
            elif kind is None:
                pair.value = value
            else:
                pair.set_value(value, kind)
        except (TypeError, ValueError) as e:  # a value the pair cannot hold
            raise Failure(f"{label}: error: {e}", EXIT_USAGE) from None

    return edit_file(args, edit)


def cmd_add(args: argparse.Namespace) -> int:
    def edit(label: str, doc: Document) -> None:
        container = find_container(label, doc, args.segments)
        try:
            container.add_source(args.source, args.index)
        except QuarelSyntaxError as e:
            # Lines and columns count within the snippet.
            raise Failure(syntax_report("<source>", e), EXIT_FAILED) from None
        except IndexError:
            raise Failure(f"{label}: error: --index {args.index} is out of range", EXIT_USAGE) from None

    return edit_file(args, edit)


def cmd_rm(args: argparse.Namespace) -> int:
    def edit(label: str, doc: Document) -> None:
        find_pair(label, doc, args.segments).detach()

    return edit_file(args, edit)


# Checking many files


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


def auto_jobs(files: int) -> int:
    return max(1, min(os.cpu_count() or 1, files // FILES_PER_JOB))


def check_all(paths: List[str], jobs: int) -> Iterable[Tuple[int, str]]:
    """(exit status, report line) per file, in the order of the paths."""
    if jobs <= 1:
        return map(check_file, paths)
    with multiprocessing.Pool(jobs) as pool:
        return pool.map(check_file, paths, chunksize=max(1, len(paths) // (jobs * 8)))


def check_file(path: str) -> Tuple[int, str]:
    try:
        parse_quarel(read_source(path))
    except Failure as e:
        return e.status, str(e)
    except QuarelSyntaxError as e:
        return EXIT_FAILED, syntax_report(path, e)
    return EXIT_OK, ""


# Reading, finding and writing


def read_source(path: str) -> str:
    """The file's text, carriage returns and all."""
    try:
        if path == STDIN:
            data = sys.stdin.buffer.read()
        else:
            with open(path, "rb", buffering=0) as f:  # unbuffered: faster on many small files
                data = f.readall()
    except OSError as e:
        raise Failure(f"{display(path)}: error: {e.strerror or e}", EXIT_USAGE) from None
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise Failure(f"{display(path)}: error: not valid UTF-8 (byte {e.start})", EXIT_USAGE) from None


def load(path: str) -> Tuple[str, str, Document]:
    """The name to report the file by, its text and its document."""
    label = display(path)
    source = read_source(path)
    try:
        return label, source, parse_quarel(source)
    except QuarelSyntaxError as e:
        raise Failure(syntax_report(label, e), EXIT_FAILED) from None


def display(path: str) -> str:
    return "<stdin>" if path == STDIN else path


def syntax_report(label: str, error: QuarelSyntaxError) -> str:
    """`label:line:column: message`, the message without its ' at line L, column C' ending."""
    text = str(error)
    suffix = f" at line {error.line}, column {error.column}"
    message = text[: -len(suffix)] if text.endswith(suffix) else text
    return f"{label}:{error.line}:{error.column}: {message}"


def find_pair(label: str, doc: Document, path: List[Segment]) -> Pair:
    """The pair the path names, each segment a child of the one before."""
    container: Container = doc
    for depth, (key, name) in enumerate(path):
        try:
            pair = container.find(key, name)
        except TypeError as e:  # the pair before is not a block
            raise Failure(f"{label}: error: {e}", EXIT_FAILED) from None
        if pair is None:
            raise not_found(label, (key, name), path[:depth])
        container = pair
    return cast(Pair, container)


def find_container(label: str, doc: Document, path: List[Segment]) -> Container:
    """The document for an empty path, else the block the path names."""
    if not path:
        return doc
    pair = find_pair(label, doc, path)
    if pair.kind != "block":
        raise Failure(f"{label}: error: `{pair.key}` is a {pair.kind}, not a block", EXIT_FAILED)
    return pair


def not_found(label: str, missing: Segment, parents: List[Segment]) -> Failure:
    where = f"`{show(parents[-1])}`" if parents else "the document"
    return Failure(f"{label}: error: no `{show(missing)}` in {where}", EXIT_FAILED)


def show(segment: Segment) -> str:
    key, name = segment
    return key if name is None else f"{key}:{name}"


def edit_file(args: argparse.Namespace, edit: Callable[[str, Document], None]) -> int:
    """Loads the file, applies the edit and prints, diffs or writes back the result."""
    if args.in_place and args.file == STDIN:
        raise Failure("<stdin>: error: --in-place needs a file", EXIT_USAGE)
    label, source, doc = load(args.file)
    edit(label, doc)
    text = doc.to_string()
    if args.diff:
        write(sys.stdout, unified_diff(source, text, label))
    if args.in_place:
        if text != source:
            write_atomically(args.file, text)
    elif not args.diff:
        write(sys.stdout, text)
    return EXIT_OK


def unified_diff(before: str, after: str, label: str) -> str:
    lines = difflib.unified_diff(split_lines(before), split_lines(after), f"a/{label}", f"b/{label}")
    marker = "\n\\ No newline at end of file\n"
    return "".join(line if line.endswith("\n") else line + marker for line in lines)


def split_lines(text: str) -> List[str]:
    """Lines ended by line feeds only (a carriage return stays part of its line)."""
    return re.findall(r"[^\n]*\n|[^\n]+\Z", text)


def write_atomically(path: str, text: str) -> None:
    """Replaces the file in one step, so an interrupted run leaves the old file or the new one."""
    target = os.path.realpath(path)
    folder = os.path.dirname(target)
    try:
        mode = stat.S_IMODE(os.stat(target).st_mode)
        fd, temporary = tempfile.mkstemp(prefix=f".{os.path.basename(target)}.", dir=folder)
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(text.encode("utf-8"))
                f.flush()
                os.fsync(f.fileno())
            os.chmod(temporary, mode)
            os.replace(temporary, target)
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
            raise
        sync_folder(folder)
    except OSError as e:
        raise Failure(f"{path}: error: cannot write: {e.strerror or e}", EXIT_USAGE) from None


def sync_folder(folder: str) -> None:
    """Makes the rename itself durable (where folders can be opened)."""
    if not hasattr(os, "O_DIRECTORY"):
        return
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def write(stream: Any, text: str) -> None:
    """Writes UTF-8 bytes, whatever the locale, and never translates line breaks."""
    stream.flush()
    stream.buffer.write(text.encode("utf-8", "surrogateescape"))
    stream.buffer.flush()


# JSON


def pair_to_json(pair: Pair) -> dict[str, Any]:
    block = pair.kind == "block"
    return {
        "key": pair.key,
        "name": pair.name,
        "kind": pair.kind,
        "value": value_to_json(pair.value),
        "children": [pair_to_json(child) for child in pair.children] if block else [],
    }


def value_to_json(value: Any) -> Any:
    """Lists stay lists, and a (key, value) pair in a list becomes {key: value}."""
    if isinstance(value, tuple):
        key, item = value
        return {key: value_to_json(item)}
    if isinstance(value, list):
        return [value_to_json(item) for item in value]
    return value


def value_from_json(value: Any) -> Any:
    if isinstance(value, dict) and len(value) == 1:
        ((key, item),) = value.items()
        return key, value_from_json(item)
    if isinstance(value, list):
        return [value_from_json(item) for item in value]
    return value


def list_value(label: str, text: str) -> NewValue:
    """A list VALUE: a JSON array, or an object for a list of pairs."""
    try:
        value = json.loads(text)
    except ValueError:
        value = None
    if isinstance(value, list):
        return cast("NewValue", value_from_json(value))
    if isinstance(value, dict):
        return cast("NewValue", {key: value_from_json(item) for key, item in value.items()})
    raise Failure(f'{label}: error: a list value is a JSON array, such as ["a", "b"]', EXIT_USAGE)
