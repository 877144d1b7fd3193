"""A schema inferred from the files you have: a draft 2020-12 schema that every one of
them satisfies, ready to commit and edit.

For each place of the documents' plain values (named blocks of one key merged across all
files, as `view:*/dimension:*`):

- the types seen there: a literal that reads as a number or as yes/no counts as one, so
  that the schema makes it one again (`Document.unwrap`);
- a key present in every block of a place is `required`;
- where a key's value is a list anywhere (the key repeats, or its value is a list), the
  place takes a list of all the values seen (one value alone being a list of one), whose
  items may also be the items of a list among them: a key given twice with lists reads
  as a list of lists, but given once, as the one list;
- `additionalProperties: false` in every block, so that a misspelt key is caught; named
  blocks are any name (`propertyNames` unconstrained);
- `enum`, the values in the order first seen, where every value is a literal (not a
  quoted string or an expression) that reads as text, at most ENUM_VALUES distinct ones
  each seen ENUM_USES times or more: a closed set of words, used again and again, such
  as a dimension's `type`.

Output is stable: the same files give the same bytes, keys in the order first seen.
"""

from __future__ import annotations

import json
import os
from typing import Any, Dict, Iterable, List, Union

from tallix_cst._native import Document
from tallix_cst.files import load
from tallix_cst.schema.places import TYPES
from tallix_cst.schema.schema import LATEST

ENUM_VALUES = 12
ENUM_USES = 2

Source = Union[Document, str, "os.PathLike[str]"]


class _Names(Dict[str, Any]):
    """Named blocks of one key, by name, as `_unwrap_marked` makes them."""


class _Literal(str):
    """A literal's text that reads as no number and no yes/no."""


def infer(sources: Iterable[Source]) -> Dict[str, Any]:
    """The schema of documents, or of files given by path (QuarelSyntaxError or OSError
    for a file that cannot be read)."""
    data: List[Any] = []
    for source in sources:
        document = source if isinstance(source, Document) else load(source)
        data.append(document._unwrap_marked(_Names, _Literal))
    return {"$schema": LATEST, **_schema(data)}


def dumps(schema: Dict[str, Any]) -> str:
    """A schema as JSON text: two spaces a level, keys in order, a final line break."""
    return json.dumps(schema, indent=2, ensure_ascii=False) + "\n"


def _schema(values: List[Any], entry: bool = True) -> Dict[str, Any]:
    """The schema of the values seen at one place: the value of a key (an entry of a
    dict), where one value alone is a list of one if the place takes a list, or an item
    of a list."""
    lists = [value for value in values if isinstance(value, list)]
    items = [item for value in lists for item in value]
    if lists and entry:
        # A key given alone with a list may also be a list of one key's several values:
        # the items of either, and a lone value of the key too.
        items += [value for value in values if not isinstance(value, list)]
        items += [inner for item in items if isinstance(item, list) for inner in item]
        return {"type": "array", **({"items": _schema(items, entry=False)} if items else {})}
    types = {_type(value) for value in values}
    if "integer" in types and "number" in types:
        types.discard("integer")
    ordered = [name for name in TYPES if name in types]
    out: Dict[str, Any] = {"type": ordered[0] if len(ordered) == 1 else ordered}
    if items:
        out["items"] = _schema(items, entry=False)
    blocks = [value for value in values if isinstance(value, dict) and not isinstance(value, _Names)]
    names = [value for value in values if isinstance(value, _Names)]
    if blocks:
        keys: Dict[str, List[Any]] = {}
        for block in blocks:
            for key, value in block.items():
                keys.setdefault(key, []).append(value)
        out["properties"] = {key: _schema(seen) for key, seen in keys.items()}
        # A block holds a key once: a key seen as often as there are blocks is in each.
        required = [key for key, seen in keys.items() if len(seen) == len(blocks) and not names]
        if required:
            out["required"] = required
    if names:
        out["additionalProperties"] = _schema([block for named in names for block in named.values()])
    elif blocks:
        out["additionalProperties"] = False
    if values and all(isinstance(value, _Literal) for value in values):
        uses: Dict[str, int] = {}
        for value in values:
            uses[str(value)] = uses.get(str(value), 0) + 1
        if len(uses) <= ENUM_VALUES and min(uses.values()) >= ENUM_USES:
            out["enum"] = list(uses)
    return out


def _type(value: Any) -> str:
    if isinstance(value, list):
        return "array"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, int):
        return "integer"
    if isinstance(value, float):
        return "number"
    return "object" if isinstance(value, dict) else "string"
