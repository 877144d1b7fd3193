"""What a command's selector picks in a document, and what it says when it picks nothing."""

from __future__ import annotations

from typing import List, Sequence, cast

from tallix_cst._native import Document, Pair
from tallix_cst.cli.output import say
from tallix_cst.failures import EXIT_FAILED, EXIT_USAGE, Failure, label
from tallix_cst.selector import Node, Selector, is_container


def containers(name: str, chosen: Selector, doc: Document) -> List[Node]:
    """The matches that are blocks (or the document). Wildcards may match other pairs too,
    which are passed over; a failure when no match is a block."""
    nodes = chosen.select(doc)
    blocks = [node for node in nodes if is_container(node)]
    if nodes and not blocks:
        pair = cast(Pair, nodes[0])
        raise Failure(f"{name}: error: `{pair.key}` is a {pair.kind}, not a block", EXIT_FAILED)
    return blocks


def pair_selector(command: str, chosen: Selector) -> Selector:
    """The selector of a command that acts on pairs."""
    if not chosen.segments:
        raise Failure(f"quarel {command}: error: `/` names the document, not a pair", EXIT_USAGE)
    return chosen


def pairs_of(chosen: Selector, doc: Document) -> List[Pair]:
    return cast(List[Pair], chosen.select(doc))


def nothing_matched(chosen: Selector, paths: Sequence[str]) -> int:
    """Says that the selector matched nothing in files that could all be read; status 1.
    (Folders without files have had their notice.)"""
    if paths:
        where = label(paths[0]) if len(paths) == 1 else f"{len(paths)} files"
        say(f"quarel: `{chosen}` matches nothing in {where}")
    return EXIT_FAILED
