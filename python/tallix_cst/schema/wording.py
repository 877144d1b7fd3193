"""How problems read: plain English in this project's voice, keys in backquotes."""

from __future__ import annotations

import functools
from typing import Iterable, List, Optional, Sequence, Tuple

# What each JSON type is called, in the language's own terms.
TYPE_NAMES = {
    "string": "a string",
    "integer": "a whole number",
    "number": "a number",
    "boolean": "yes or no",
    "array": "a list",
    "object": "a block",
    "null": "null",
}
SHORT = 40
LISTED = 8


def quoted(text: str) -> str:
    """Text in backquotes, on one line, cut at SHORT characters."""
    one_line = " ".join(text.split())
    if len(one_line) > SHORT:
        one_line = one_line[: SHORT - 1] + "…"
    return f"`{one_line}`"


def either(items: Sequence[str]) -> str:
    """`a`, `b` or `c`."""
    if len(items) <= 1:
        return "".join(items)
    return f"{', '.join(items[:-1])} or {items[-1]}"


def types(names: Iterable[str]) -> str:
    """The types a place accepts: "a string or a list"."""
    wanted = list(dict.fromkeys(names))
    if "number" in wanted and "integer" in wanted:
        wanted.remove("integer")
    return either([TYPE_NAMES.get(name, name) for name in wanted])


def values(options: Sequence[object]) -> str:
    """Allowed values, the first few of a long list: "`a`, `b` or `c`"."""
    shown = [quoted(_text(option)) for option in options[:LISTED]]
    if len(options) > LISTED:
        return f"{', '.join(shown)} or {len(options) - LISTED} more"
    return either(shown)


def times(count: int) -> str:
    return "twice" if count == 2 else f"{count} times"


def _text(value: object) -> str:
    if isinstance(value, bool):
        return "yes" if value else "no"
    if value is None:
        return "null"
    return str(value)


def distance(a: str, b: str) -> int:
    """Edits from one text to the other: characters inserted, deleted, replaced, or two
    neighbours swapped (the optimal string alignment distance)."""
    previous: Optional[List[int]] = None
    row = list(range(len(b) + 1))
    for i in range(1, len(a) + 1):
        before, previous, row = previous, row, [i] + [0] * len(b)
        for j in range(1, len(b) + 1):
            cost = a[i - 1] != b[j - 1]
            row[j] = min(previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost)
            if (
                before is not None
                and i > 1
                and j > 1
                and a[i - 1] == b[j - 2]
                and a[i - 2] == b[j - 1]
            ):
                row[j] = min(row[j], before[j - 2] + 1)
    return row[len(b)]


def closest(text: str, candidates: Iterable[str]) -> Optional[str]:
    """The candidate nearest to the text when it is close: within a third of the shorter
    one's length in edits (one edit at least), ignoring case; the first of equals."""
    return _closest(text, tuple(candidates))


@functools.lru_cache(maxsize=4096)
def _closest(text: str, candidates: Tuple[str, ...]) -> Optional[str]:
    # A document tends to misspell a key the same way in many places.
    best: Optional[str] = None
    best_distance = 0
    for candidate in candidates:
        limit = max(1, min(len(text), len(candidate)) // 3)
        if candidate == text or abs(len(candidate) - len(text)) > limit:
            continue  # (no fewer edits than the lengths differ)
        edits = distance(text.lower(), candidate.lower()) + (text.lower() == candidate.lower())
        if edits <= limit and (best is None or edits < best_distance):
            best, best_distance = candidate, edits
    return best
