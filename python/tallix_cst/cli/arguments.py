"""The table of `quarel`'s commands and options, and the types of their arguments."""

from __future__ import annotations

import argparse
from typing import Callable, Optional, Tuple, Union, get_args

from tallix_cst import __version__, codemod, format_options
from tallix_cst.cli.apply import cmd_apply
from tallix_cst.cli.check import FORMATS, cmd_check
from tallix_cst.cli.editing import cmd_add, cmd_comment, cmd_rename, cmd_rm, cmd_set
from tallix_cst.cli.fmt import cmd_fmt
from tallix_cst.cli.infer import cmd_infer
from tallix_cst.cli.reading import cmd_get, cmd_json
from tallix_cst.cli.server import cmd_lsp
from tallix_cst.files import MAX_SIZE, size_text
from tallix_cst.selector import Selector
from tallix_cst.values import ValueKind

KINDS = list(get_args(ValueKind))
WALK = (
    "A folder stands for the *.quarel files below it, less what .gitignore ignores, the "
    "usual folders (.git, .venv, venv, node_modules, __pycache__, build, dist, or the "
    "project's exclude) and its extend-exclude; a path named is never passed over. Each "
    "file counts once, however often it is named."
)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarel",
        description="Check, read and edit Quarel files without losing their layout. A "
        "SELECTOR names pairs: /-separated segments, each key or key:name, with the shell's "
        "wildcards *, ? and [...] (a backslash makes /, *, ?, [ or \\ literal); / alone names "
        "the document. A PATH is a file (- for standard input) or a folder. " + WALK + " Exit "
        "status: 0 success, 1 nothing matched, a file does not parse or has problems, 2 a "
        "usage or I/O error, 130 interrupted.",
    )
    parser.add_argument("--version", action="version", version=f"quarel {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    check = command(
        commands, cmd_check, "check", "report syntax errors and schema problems",
        "Print every syntax error of each file and, for a file that parses, its problems "
        "against its schema: the one given with --schema, else the one its #:schema comment "
        "names, else the one the project's [[schema]] tables give it (a file without one is "
        "checked for syntax alone). A summary goes to standard error. Exit status: 0 no "
        "problem, 1 any problem, 2 a schema, a configuration or a file that cannot be used.",
    )
    add_paths(check)
    check.add_argument("--schema", metavar="PATH", help="the schema of every file")
    check.add_argument(
        "--output-format", choices=FORMATS, default="text",
        help="path:line:column: message lines (text), one JSON list of objects (json), or "
        "GitHub workflow annotations (github); default: text",
    )
    add_jobs(check, "default: one per core when there are many files")

    get = command(
        commands, cmd_get, "get", "print values",
        "Print the value of every matching pair: text as it is, a list as JSON (a pair in "
        'a list as a one-key object, {"status": "open"}), a block as its source. With more '
        "than one file each line starts with the file's name.",
    )
    add_selector(get)
    add_paths(get)

    to_json = command(
        commands, cmd_json, "json", "print pairs as JSON",
        "Print each document, or the pairs that --select matches, as a JSON list of objects "
        "with key, name, kind, value and children. With more than one file, an object maps "
        "each file's name to its list.",
    )
    add_paths(to_json)
    to_json.add_argument("--select", type=selector, metavar="SELECTOR", help="the pairs to print")

    set_ = command(
        commands, cmd_set, "set", "change or add values",
        "Give every matching pair a new value, keeping its layout and, unless --kind says "
        "otherwise, its kind. Where the last segment is a plain key that a matching block "
        'lacks, the pair is added. A list value is a JSON array, such as ["a", 1.5e3, '
        '{"status": "open"}], a one-key object being a pair, or an object for a list of '
        "pairs; numbers, true, false and null are written as they are given.",
    )
    add_selector(set_)
    set_.add_argument("value", metavar="VALUE", help="the new value")
    add_paths(set_)
    set_.add_argument("--kind", choices=KINDS, help="the kind of the new value")
    add_output(set_)

    add = command(
        commands, cmd_add, "add", "insert pairs from a source snippet",
        "Parse the snippet and insert its pairs into every matching block (/ for the "
        "document), indented and spaced like their neighbours.",
    )
    add_selector(add)
    add_paths(add)
    add.add_argument("--source", required=True, metavar="SNIPPET", help="Quarel source to insert")
    add.add_argument(
        "--index", type=int, metavar="N",
        help="position among the block's pairs; negative counts from the end (default: the end)",
    )
    add_output(add)

    rm = command(commands, cmd_rm, "rm", "remove pairs", "Remove every matching pair, with the comments above it.")
    add_selector(rm)
    add_paths(rm)
    add_output(rm)

    rename = command(
        commands, cmd_rename, "rename", "change keys and block names",
        "Give every matching pair the key NEW; NEW written key:name also names the block.",
    )
    add_selector(rename)
    rename.add_argument("new", type=new_name, metavar="NEW", help="key or key:name")
    add_paths(rename)
    add_output(rename)

    comment = command(
        commands, cmd_comment, "comment", "print or replace the comments above pairs",
        "Print the comment lines above every matching pair, or replace them with --set lines "
        "(# is added where a line lacks one), or remove them with --clear.",
    )
    add_selector(comment)
    add_paths(comment)
    replace = comment.add_mutually_exclusive_group()
    replace.add_argument("--set", action="append", dest="lines", metavar="LINE", help="a new comment line")
    replace.add_argument("--clear", action="store_true", help="remove the comments")
    add_output(comment)

    apply = command(
        commands, cmd_apply, "apply", "run an edit script over files",
        "SCRIPT.py defines edit(doc, path), which edits the document in place. Every file is "
        "parsed and handed to it; the files whose text changed are listed, diffed with "
        "--diff, or written with --in-place. A failure in one file is reported as path: "
        "message and the others go on. Exit status 1 when any file failed, and with --check "
        "also when any would change.",
    )
    apply.add_argument("script", metavar="SCRIPT.py")
    add_paths(apply)
    add_jobs(apply, "default: one per core")
    mode = apply.add_mutually_exclusive_group()
    mode.add_argument("--diff", action="store_true", help="print a unified diff of each change")
    mode.add_argument("-i", "--in-place", action="store_true", help="write the changed files")
    mode.add_argument("--check", action="store_true", help="fail when any file would change")
    add_all_or_nothing(apply)
    apply.add_argument(
        "--timeout", type=float, default=codemod.TIMEOUT, metavar="SECONDS",
        help=f"fail a file whose edit takes longer (0: no limit; default: {codemod.TIMEOUT})",
    )
    apply.add_argument(
        "--max-memory", type=size, default=codemod.MAX_MEMORY, metavar="SIZE",
        help="the memory each process may take beyond what it starts with; a file whose edit "
        f"needs more fails (0: no limit; default: {size_text(codemod.MAX_MEMORY)})",
    )

    fmt = command(
        commands, cmd_fmt, "fmt", "format files",
        "Lay every file out regularly, changing whitespace only, and write the files that "
        "change (- formats standard input to standard output). Each option comes from the "
        "command line, else from the [format] table of the project's configuration (the "
        "nearest quarel.toml, .quarel.toml or pyproject.toml's [tool.quarel.format]: "
        f"{', '.join(format_options.OPTIONS)}), else from .editorconfig "
        "(indent_style, indent_size, end_of_line, max_line_length, insert_final_newline), "
        "else it is the default given below; final_newline defaults to true. Trailing spaces "
        "and tabs are always trimmed, outside strings and expressions, whatever "
        "trim_trailing_whitespace says. Exit status: 0 success, 1 a file does not parse (the "
        "others are still formatted) or, with --check or --diff, would change, 2 a usage or "
        "I/O error, 130 interrupted.",
    )
    add_paths(fmt)
    mode = fmt.add_mutually_exclusive_group()
    mode.add_argument("--check", action="store_true", help="list the files that would change")
    mode.add_argument("--diff", action="store_true", help="print a unified diff of each change")
    add_all_or_nothing(fmt)
    fmt.add_argument(
        "--indent", type=checked_option("indent", lambda text: format_options.indent_string(number(text))),
        metavar="N|tab", help="the indent step: N spaces or a tab (default: the file's own)",
    )
    fmt.add_argument("--newline", choices=list(format_options.NEWLINES), help="the line break (default: the file's own)")
    fmt.add_argument(
        "--max-blank-lines", type=checked_option("max_blank_lines", number), metavar="N",
        help=f"the blank lines allowed in a row (default: {format_options.DEFAULTS['max_blank_lines']})",
    )
    fmt.add_argument(
        "--column-width", type=checked_option("column_width", number), metavar="N",
        help=f"the width past which a one-line list or block is split (default: {format_options.DEFAULTS['column_width']})",
    )

    schema = commands.add_parser("schema", help="schemas from files", description="Work with schemas.")
    schemas = schema.add_subparsers(dest="schema_command", required=True, metavar="COMMAND")
    infer = command(
        schemas, cmd_infer, "infer", "write a schema that the files satisfy",
        "Write a JSON Schema (draft 2020-12) that every file satisfies: the types seen at each "
        "place, named blocks of one key merged, keys present everywhere required, lists where "
        "a key repeats, an enum where a few words are used again and again, and no other keys "
        "(a misspelt key is caught). The same files give the same bytes. Exit status: 0 "
        "written, 1 a file does not parse, 2 a file cannot be read (nothing is written then).",
    )
    add_paths(infer)
    infer.add_argument("-o", "--output", metavar="FILE", help="write it to FILE (default: standard output)")

    lsp = command(
        commands, cmd_lsp, "lsp", "run the language server",
        "Run the language server on standard input and output, for editors: syntax errors as "
        "they are typed, outline, folding, hover, highlighting, completion of keys, rename of "
        "block names and workspace symbols. Exit status: 0 after the editor's shutdown and "
        "exit, 1 when it ends otherwise.",
    )
    lsp.add_argument("--stdio", action="store_true", help="talk over standard input and output (the only way)")
    lsp.add_argument("--version", action="version", version=f"quarel lsp {__version__}")
    return parser


def command(
    commands: "argparse._SubParsersAction[argparse.ArgumentParser]",
    run: Callable[[argparse.Namespace], int],
    name: str,
    summary: str,
    description: str,
) -> argparse.ArgumentParser:
    parser = commands.add_parser(name, help=summary, description=description)
    parser.set_defaults(run=run)
    return parser


def add_selector(command: argparse.ArgumentParser) -> None:
    command.add_argument("selector", type=selector, metavar="SELECTOR", help="the pairs to act on")


def add_paths(command: argparse.ArgumentParser) -> None:
    command.add_argument("paths", nargs="+", metavar="PATH", help="files and folders")
    command.add_argument(
        "--no-ignore", action="store_true",
        help="walk every folder: pass over nothing that .gitignore, the usual folders or the "
        "project's exclude settings would",
    )
    command.add_argument(
        "--max-file-size", type=size, default=MAX_SIZE, metavar="SIZE",
        help=f"refuse a file larger than this, such as 500M or 2G (default: {size_text(MAX_SIZE)})",
    )


def add_jobs(command: argparse.ArgumentParser, default: str) -> None:
    command.add_argument("-j", "--jobs", type=int, default=0, metavar="N", help=f"number of processes ({default})")


def add_output(command: argparse.ArgumentParser) -> None:
    command.add_argument(
        "-i", "--in-place", action="store_true",
        help="write the files back (atomically, keeping mode, owner and links) instead of printing them",
    )
    command.add_argument("--diff", action="store_true", help="print a unified diff instead of the documents")
    add_all_or_nothing(command)


def add_all_or_nothing(command: argparse.ArgumentParser) -> None:
    command.add_argument("--all-or-nothing", action="store_true", help="write nothing unless every file succeeded")


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
