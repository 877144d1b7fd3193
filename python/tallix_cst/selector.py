"""Selectors: which pairs of a document a command acts on, as in `view:*/dimension:*_id/hidden`.

A selector is `/`-separated segments, each `key` or `key:name`, from the top of the
document down; `/` alone names the document itself. Keys and names take the shell's
wildcards `*`, `?` and `[...]`, and a backslash makes `/`, `*`, `?`, `[` or `\\` literal.
A segment without a name matches pairs whatever their name; with one, only blocks whose
name matches.
"""

from __future__ import annotations

import fnmatch
import re
from typing import List, Optional, Tuple, Union

from tallix_cst._native import Document, Pair

Node = Union[Document, Pair]

ROOT = "/"
# How each escapable character is written in fnmatch's syntax, which has no escapes.
_ESCAPED = {"*": "[*]", "?": "[?]", "[": "[[]", "\\": "\\", "/": "/"}
_WILDCARDS = frozenset("*?[")


class Pattern:
    """A key or a name, with wildcards or without."""

    def __init__(self, source: str) -> None:
        tokens = _tokens(source)
        for token in tokens:
            if token.startswith("\\") and token[1:] not in _ESCAPED:
                raise ValueError(
                    f"`{source}`: a backslash makes /, *, ?, [ or \\ literal, nothing else"
                )
        self.wildcards = any(token in _WILDCARDS for token in tokens)
        # The text itself; with wildcards only `matches` means anything.
        self.text = "".join(token[-1] for token in tokens)
        glob = "".join(_ESCAPED[token[1]] if len(token) == 2 else token for token in tokens)
        self._regex = re.compile(fnmatch.translate(glob))

    def matches(self, text: Optional[str]) -> bool:
        return text is not None and self._regex.match(text) is not None


class Segment:
    def __init__(self, source: str) -> None:
        key, *name = _split(source, ":", 1)
        if not key or (name and not name[0]):
            raise ValueError(f"`{source}` is not a selector segment: write key or key:name")
        self.source = source
        self.key = Pattern(key)
        self.name = Pattern(name[0]) if name else None

    @property
    def literal(self) -> Optional[Tuple[str, Optional[str]]]:
        """(key, name) when neither has wildcards."""
        if self.key.wildcards or (self.name is not None and self.name.wildcards):
            return None
        return self.key.text, None if self.name is None else self.name.text

    def children(self, container: Node) -> List[Pair]:
        """The children of a document or block that match, in order."""
        literal = self.literal
        if literal is not None:
            return container.find_all(*literal)
        return [
            pair
            for pair in container
            if self.key.matches(pair.key) and (self.name is None or self.name.matches(pair.name))
        ]


class Selector:
    """A parsed selector: ValueError for text that is not one."""

    def __init__(self, text: str) -> None:
        self.segments: Tuple[Segment, ...] = (
            () if text == ROOT else tuple(Segment(part) for part in _split(text, "/"))
        )

    def __str__(self) -> str:
        return "/".join(segment.source for segment in self.segments) or ROOT

    @property
    def parent(self) -> Selector:
        """The selector of the containers of this one's matches."""
        parent = Selector(ROOT)
        parent.segments = self.segments[:-1]
        return parent

    def select(self, doc: Document) -> List[Node]:
        """Every match, in the order of the document."""
        nodes: List[Node] = [doc]
        for segment in self.segments:
            nodes = [
                pair for node in nodes if is_container(node) for pair in segment.children(node)
            ]
        return nodes


def path_to(pair: Pair) -> str:
    """The selector that names a pair: its own segment and those of the blocks above it,
    `key:name` for a named block (which may match its namesakes too)."""
    segments: List[str] = []
    node: Optional[Node] = pair
    while isinstance(node, Pair):
        name = node.name
        segments.append(escape(node.key) + ("" if name is None else ":" + escape(name)))
        node = node.parent
    return "/".join(reversed(segments))


def escape(text: str) -> str:
    """A key or name as a selector writes it, its wildcards and slashes made literal."""
    return "".join("\\" + c if c in _ESCAPED else c for c in text)


def is_container(node: Node) -> bool:
    return isinstance(node, Document) or node.kind == "block"


def _tokens(text: str) -> List[str]:
    """Characters, a backslash taken together with the one it escapes."""
    return re.findall(r"\\.?|.", text, flags=re.S)


def _split(text: str, separator: str, limit: int = -1) -> List[str]:
    """Splits at separators that no backslash escapes; the escapes stay."""
    parts = [""]
    for token in _tokens(text):
        if token == separator and limit != len(parts) - 1:
            parts.append("")
        else:
            parts[-1] += token
    return parts
