"""How a file's name is shown in messages."""

from __future__ import annotations

import itertools
import os
import unicodedata


def quoted(path: str) -> str:
    """The path as shown: a name with a line break, a terminal escape or another control
    character (or bytes that are not UTF-8) is quoted as `ls` quotes it, so that a listing
    keeps one file a line and prints nothing a terminal would act on."""
    if not any(map(_control, path)):
        return path
    parts = []
    for control, run in itertools.groupby(path, _control):
        text = "".join(run)
        parts.append(f"'$'{_escaped(text)}''" if control else text.replace("'", "'\\''"))
    quoted = f"'{''.join(parts)}'"
    quoted = quoted[2:] if quoted.startswith("''") else quoted
    return quoted[:-2] if quoted.endswith("''") else quoted


def _control(c: str) -> bool:
    return unicodedata.category(c) in ("Cc", "Cs")  # surrogates: bytes that are not UTF-8


def _escaped(text: str) -> str:
    named = {"\a": "a", "\b": "b", "\t": "t", "\n": "n", "\v": "v", "\f": "f", "\r": "r"}
    return "".join(
        "\\" + named[c] if c in named else "".join(f"\\{byte:03o}" for byte in os.fsencode(c))
        for c in text
    )
