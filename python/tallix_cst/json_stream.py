"""The output of `quarel json`, printed as it is made.

The text is what json.dumps(..., ensure_ascii=False, indent=2) prints for the list of one
file's items, or for an object mapping each file's name to its list, but only one item is
held at a time: the data of a whole document takes many times the memory of its tree, and
its garbage collection grows with it.
"""

from __future__ import annotations

import json
from typing import Any, Callable, Iterable, Iterator, List, Set

# Text gathered before it is written: fewer, larger writes.
CHUNK = 1 << 20


class JsonStream:
    """Files' items to JSON text, handed to `write` a chunk at a time. With `many` the text
    is an object with one key for each file."""

    def __init__(self, write: Callable[[str], None], many: bool) -> None:
        self.write = write
        self.many = many
        self.names: Set[str] = set()
        self.pending: List[str] = []
        self.size = 0

    def file(self, name: str, items: Iterable[Any]) -> None:
        """Adds a file's items, each made only when it is printed. A file named again is
        left out, as an object holds a key once."""
        if name in self.names:
            return
        if self.many:
            opening = "," if self.names else "{"
            self.add(f"{opening}\n  {json.dumps(name, ensure_ascii=False)}: ")
        self.names.add(name)
        for text in json_list(items, 1 if self.many else 0):
            self.add(text)

    def close(self) -> None:
        """Ends the text, if any file was added, and writes what is left."""
        if self.names:
            self.add("\n}\n" if self.many else "\n")
        if self.pending:
            self.write("".join(self.pending))

    def add(self, text: str) -> None:
        self.pending.append(text)
        self.size += len(text)
        if self.size >= CHUNK:
            self.write("".join(self.pending))
            self.pending, self.size = [], 0


def json_list(items: Iterable[Any], depth: int) -> Iterator[str]:
    """json.dumps(list(items), ensure_ascii=False, indent=2) as it reads `depth` levels
    deep, an item at a time. The dump of an item has line feeds only between its lines
    (inside strings they are escaped), so indenting it is a replace."""
    inner = "\n" + "  " * (depth + 1)
    opening = "["
    for item in items:
        yield opening + inner + json.dumps(item, ensure_ascii=False, indent=2).replace("\n", inner)
        opening = ","
    yield "[]" if opening == "[" else "\n" + "  " * depth + "]"
