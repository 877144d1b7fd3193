"""Unified diffs of a file before and after an edit, in time about linear in its size.

difflib compares every line with every other: minutes for a file of 50 MB. Here the text
that both sides share at their start and end is set aside, the rest is compared a
paragraph at a time, and only paragraphs that differ line by line. At each level the items
that both sides share at their start and end are set aside again, items found exactly once
on each side anchor the rest where they keep their order, and difflib compares only the
stretches between anchors. Hunks, their headers and their three lines of context are
those of difflib.unified_diff for the same changes.
"""

from __future__ import annotations

import bisect
import difflib
import re
from collections import Counter
from itertools import accumulate
from typing import Callable, Iterator, List, NamedTuple, Sequence, Tuple

CONTEXT = 3
# Stretches that difflib compares as they are: the product of their lengths.
SMALL = 10_000
NO_NEWLINE = "\n\\ No newline at end of file\n"
# Items a[i1:i2] of one side became b[j1:j2] of the other.
Stretch = Tuple[int, int, int, int]


class Change(NamedTuple):
    """Lines line to end (from 0, the end excluded) of the old text, at offsets at to
    stop, became lines new_line to new_end, at offsets new_at to new_stop."""

    line: int
    end: int
    new_line: int
    new_end: int
    at: int
    stop: int
    new_at: int
    new_stop: int


def unified_diff(before: str, after: str, name: str) -> str:
    found = list(line_changes(before, after))
    if not found:
        return ""
    text = [f"--- a/{name}\n", f"+++ b/{name}\n"]
    count = 0
    while count < len(found):  # changes at most twice the context apart share a hunk
        group = [found[count]]
        count += 1
        while count < len(found) and found[count].line - group[-1].end <= 2 * CONTEXT:
            group.append(found[count])
            count += 1
        text += hunk(before, after, group)
    return "".join(text)


def hunk(before: str, after: str, group: List[Change]) -> Iterator[str]:
    first, last = group[0], group[-1]
    top, above = lines_back(before, first.at)
    end, below = lines_ahead(before, last.stop)
    old = span(first.line - above, last.end + below)
    new = span(first.new_line - above, last.new_end + below)
    yield f"@@ -{old} +{new} @@\n"
    for change in group:
        yield marked(" ", before[top : change.at])
        yield marked("-", before[change.at : change.stop])
        yield marked("+", after[change.new_at : change.new_stop])
        top = change.stop
    yield marked(" ", before[top:end])


def marked(mark: str, lines: str) -> str:
    """Each line with the mark before it, and a note after the last if it has no line
    feed."""
    if not lines:
        return ""
    if lines.endswith("\n"):
        return mark + lines[:-1].replace("\n", "\n" + mark) + "\n"
    return mark + lines.replace("\n", "\n" + mark) + NO_NEWLINE


def lines_back(text: str, at: int) -> Tuple[int, int]:
    """Where the context above the line at offset `at` starts, and how many lines it has."""
    count = 0
    while count < CONTEXT and at > 0:
        at, count = text.rfind("\n", 0, at - 1) + 1, count + 1
    return at, count


def lines_ahead(text: str, at: int) -> Tuple[int, int]:
    """Where the context from the line at offset `at` on ends, and how many lines it has."""
    count = 0
    while count < CONTEXT and at < len(text):
        at, count = (text.find("\n", at) + 1 or len(text)), count + 1
    return at, count


def line_changes(before: str, after: str) -> Iterator[Change]:
    """The changes from before to after, in order."""
    most = min(len(before), len(after))
    head = shared(lambda n, k: before[n : n + k] == after[n : n + k], most)
    start = before.rfind("\n", 0, head) + 1
    tail = shared(
        lambda n, k: before[len(before) - n - k : len(before) - n]
        == after[len(after) - n - k : len(after) - n],
        most - start,
    )
    # The first line boundary in the shared tail.
    stop = before.find("\n", len(before) - tail) + 1 or len(before)
    new_stop = len(after) - len(before) + stop
    old, old_at = paragraphs(before, start, stop)
    new, new_at = paragraphs(after, start, new_stop)
    line = new_line = before.count("\n", 0, start)
    new_start = start
    for c1, c2, d1, d2 in changes(old, new, 0, len(old), 0, len(new)):
        line += before.count("\n", start, old_at[c1])
        new_line += after.count("\n", new_start, new_at[d1])
        start, new_start = old_at[c1], new_at[d1]
        a = split_lines(before[start : old_at[c2]])
        b = split_lines(after[new_start : new_at[d2]])
        a_at = list(accumulate(map(len, a), initial=start))
        b_at = list(accumulate(map(len, b), initial=new_start))
        for i1, i2, j1, j2 in changes(a, b, 0, len(a), 0, len(b)):
            yield Change(
                line + i1,
                line + i2,
                new_line + j1,
                new_line + j2,
                a_at[i1],
                a_at[i2],
                b_at[j1],
                b_at[j2],
            )


def paragraphs(text: str, start: int, stop: int) -> Tuple[List[str], List[int]]:
    """text[start:stop] cut around every empty line that follows a line (two line feeds),
    and the offsets where the pieces start, and where the last ends. The pieces leave the
    line feeds out, but for the last: it is not followed by an empty line, and with them
    it never equals one that is."""
    pieces = text[start:stop].split("\n\n")
    ends = accumulate(map(len, pieces), initial=start)
    at = [end + 2 * count for count, end in enumerate(ends)]
    at[-1] = stop
    pieces[-1] += "\n\n"
    return pieces, at


def split_lines(text: str) -> List[str]:
    """Lines ended by line feeds only (a carriage return stays part of its line)."""
    return re.findall(r"[^\n]*\n|[^\n]+\Z", text)


def changes(
    a: Sequence[str], b: Sequence[str], alo: int, ahi: int, blo: int, bhi: int
) -> Iterator[Stretch]:
    """The stretches in which a[alo:ahi] and b[blo:bhi] differ, in order, none touching
    the next."""
    # The runs that the text's shared start and end, and the anchors, leave are short.
    while alo < ahi and blo < bhi and a[alo] == b[blo]:
        alo, blo = alo + 1, blo + 1
    while alo < ahi and blo < bhi and a[ahi - 1] == b[bhi - 1]:
        ahi, bhi = ahi - 1, bhi - 1
    if alo == ahi and blo == bhi:
        return
    if alo == ahi or blo == bhi or set(a[alo:ahi]).isdisjoint(b[blo:bhi]):
        yield alo, ahi, blo, bhi
        return
    found = [] if (ahi - alo) * (bhi - blo) <= SMALL else anchors(a, b, alo, ahi, blo, bhi)
    if not found:
        matcher = difflib.SequenceMatcher(None, a[alo:ahi], b[blo:bhi])
        for tag, i1, i2, j1, j2 in matcher.get_opcodes():
            if tag != "equal":
                yield alo + i1, alo + i2, blo + j1, blo + j2
        return
    for i, j in found:
        if i > alo or j > blo:
            yield from changes(a, b, alo, i, blo, j)
        alo, blo = i + 1, j + 1
    yield from changes(a, b, alo, ahi, blo, bhi)


def shared(equal: Callable[[int, int], bool], most: int) -> int:
    """How long the run is that agrees, at most `most`, where equal(n, k) tells whether
    the k characters after the first n do: by doubling, then halving, steps, so that the
    comparing is done in C."""
    count, step = 0, 1
    while count + step <= most and equal(count, step):
        count, step = count + step, step * 2
    while step > 1:
        step //= 2
        if count + step <= most and equal(count, step):
            count += step
    return count


def anchors(
    a: Sequence[str], b: Sequence[str], alo: int, ahi: int, blo: int, bhi: int
) -> List[Tuple[int, int]]:
    """(i, j) of items found once in a[alo:ahi] and once in b[blo:bhi], a[i] == b[j]: the
    longest run of them whose order is the same on both sides."""
    in_a, in_b = Counter(a[alo:ahi]), Counter(b[blo:bhi])
    where = {item: j for j, item in enumerate(b[blo:bhi], blo) if in_b[item] == 1}
    pairs = [
        (i, where[item])
        for i, item in enumerate(a[alo:ahi], alo)
        if in_a[item] == 1 and item in where
    ]
    if all(j < k for (_, j), (_, k) in zip(pairs, pairs[1:])):
        return pairs  # nothing moved, as after most edits
    # Patience sorting: tails[k] is the smallest j that ends an increasing run of k + 1,
    # ends[k] the pair it is in.
    tails: List[int] = []
    ends: List[int] = []
    before = [-1] * len(pairs)
    for n, (_, j) in enumerate(pairs):
        k = bisect.bisect_left(tails, j)
        if k == len(tails):
            tails.append(j)
            ends.append(n)
        else:
            tails[k], ends[k] = j, n
        before[n] = ends[k - 1] if k else -1
    run, n = [], ends[-1] if ends else -1
    while n >= 0:
        run.append(pairs[n])
        n = before[n]
    return run[::-1]


def span(start: int, stop: int) -> str:
    """A range of lines as a hunk header writes it: the first line and the count, the
    line before an empty range."""
    if stop - start == 1:
        return str(start + 1)
    return f"{start + 1 if stop > start else start},{stop - start}"
