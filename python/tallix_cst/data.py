"""List values from JSON text, as `quarel set` takes them: the reverse of the mapping of
`to_data()`, where a `(key, value)` pair in a list is a one-key object,
`{"status": "open"}`.

A number, `true`, `false` and `null` are written bare, as they were given: `1.5e3` stays
`1.5e3` and `true` stays `true` (a Python True would be written `yes`). `NaN` and
`Infinity` are not JSON and are refused. An object for the whole list is a list of pairs,
`{"a": "x", "b": "y"}` for `[a: "x", b: "y"]`, each key kept even where it repeats.
"""

from __future__ import annotations

import json
from typing import TYPE_CHECKING, Any, List, Tuple

if TYPE_CHECKING:
    from tallix_cst.values import NewValue

ARRAY = 'a list value is a JSON array, such as ["a", "b"]'
PAIR = 'a pair in a list is an object with one key, such as {"status": "open"}'


class Verbatim(float):
    """JSON text that the engine writes as a bare literal: it writes a number as its str().
    Only the text counts, not the number."""

    __slots__ = ("text",)
    text: str

    def __new__(cls, text: str) -> Verbatim:
        made = super().__new__(cls)
        made.text = text
        return made

    def __str__(self) -> str:
        return self.text


class Pairs(List[Tuple[str, Any]]):
    """A JSON object: its members in order, repeated keys included."""


def list_from_json(text: str) -> NewValue:
    """A list value from JSON text: an array (with one-key objects for pairs), or an
    object for a list of pairs. ValueError, with a message for the user, for anything
    else."""
    try:
        data = json.loads(
            text,
            parse_float=Verbatim,
            parse_int=Verbatim,
            parse_constant=_not_json,
            object_pairs_hook=Pairs,
        )
    except json.JSONDecodeError:
        raise ValueError(ARRAY) from None
    if isinstance(data, Pairs):
        return [(key, _item(item)) for key, item in data]
    if isinstance(data, list):
        return [_item(item) for item in data]
    raise ValueError(ARRAY)


def _item(data: Any) -> Any:
    if isinstance(data, Pairs):
        if len(data) != 1:
            raise ValueError(PAIR)
        ((key, item),) = data
        return key, _item(item)
    if isinstance(data, list):
        return [_item(item) for item in data]
    if isinstance(data, bool) or data is None:
        return Verbatim(json.dumps(data))
    return data


def _not_json(constant: str) -> Any:
    raise ValueError(f"`{constant}` is not a JSON number")
