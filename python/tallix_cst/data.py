"""Documents as plain, JSON-ready data, and list values back from JSON.

Every pair is an object with `key`, `name`, `kind`, `value` and `children`; in a list
value a `(key, value)` pair is a one-key object, `{"status": "open"}`.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Union

from tallix_cst._native import Document, Pair

if TYPE_CHECKING:
    from tallix_cst._native import _NewValue


def to_data(node: Union[Document, Pair]) -> Any:
    """A document as the list of its pairs, a pair as an object (blocks with their
    children)."""
    if isinstance(node, Document):
        return [to_data(pair) for pair in node]
    block = node.kind == "block"
    return {
        "key": node.key,
        "name": node.name,
        "kind": node.kind,
        "value": value_to_data(node.value),
        "children": [to_data(child) for child in node] if block else [],
    }


def value_to_data(value: object) -> Any:
    """Text and None stay as they are; lists stay lists; a pair in a list becomes
    {key: value}."""
    if isinstance(value, tuple):
        key, item = value
        return {key: value_to_data(item)}
    if isinstance(value, list):
        return [value_to_data(item) for item in value]
    return value


def list_from_data(data: Any) -> _NewValue:
    """A list value from JSON data: an array (with one-key objects for pairs), or an object
    for a list of pairs. ValueError for anything else."""
    if isinstance(data, list):
        return [_item(item) for item in data]
    if isinstance(data, dict):
        return {key: _item(item) for key, item in data.items()}
    raise ValueError('a list value is a JSON array, such as ["a", "b"]')


def _item(data: Any) -> Any:
    if isinstance(data, dict) and len(data) == 1:
        ((key, item),) = data.items()
        return key, _item(item)
    if isinstance(data, list):
        return [_item(item) for item in data]
    return data
