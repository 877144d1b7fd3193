"""The commands that read: `get`, `json` and `comment` without `--set` or `--clear`."""

from __future__ import annotations

import argparse
import json
import sys
from typing import Callable, List, Optional, cast

from tallix_cst._native import Document
from tallix_cst.cli.output import out, prefixed, say
from tallix_cst.cli.runner import files
from tallix_cst.cli.selecting import nothing_matched, pair_selector, pairs_of
from tallix_cst.failures import EXIT_OK, Failure, label, read
from tallix_cst.json_stream import JsonStream
from tallix_cst.selector import Node, Selector

# What a reading command does with one file's document: how many pairs it acted on.
Show = Callable[[str, Document], int]


def for_each_file(paths: List[str], chosen: Optional[Selector], act: Show, max_size: int) -> int:
    """Runs `act` on each file's document; a file that fails is reported and the others go
    on. Status 1 when the selector matched nothing at all."""
    status, matched = EXIT_OK, 0
    for path in paths:
        try:
            matched += act(label(path), read(path, max_size)[1])
        except Failure as e:
            say(str(e))
            status = max(status, e.status)
    if matched or chosen is None or status != EXIT_OK:
        return status
    return nothing_matched(chosen, paths)


def cmd_get(args: argparse.Namespace) -> int:
    paths = files(args)

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
    paths = files(args)
    stream = JsonStream(lambda text: out(sys.stdout, text), len(paths) > 1)

    def show(name: str, doc: Document) -> int:
        nodes = doc.children if args.select is None else args.select.select(doc)
        stream.file(name, (node.to_data() for node in nodes))
        return 1 if args.select is None else len(nodes)

    status = for_each_file(paths, args.select, show, args.max_file_size)
    stream.close()
    return status


def show_comments(args: argparse.Namespace) -> int:
    chosen = pair_selector(args.command, args.selector)
    paths = files(args)

    def show(name: str, doc: Document) -> int:
        pairs = pairs_of(chosen, doc)
        for pair in pairs:
            lines = "".join(line + "\n" for line in pair.comments)
            out(sys.stdout, prefixed(name, lines, len(paths) > 1))
        return len(pairs)

    return for_each_file(paths, chosen, show, args.max_file_size)
