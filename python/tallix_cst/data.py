"""List values back from JSON data, as `quarel set --kind list` takes them: the reverse of
the mapping of `to_data()`, where a `(key, value)` pair in a list is a one-key object,
`{"status": "open"}`.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from tallix_cst.values import NewValue


def list_from_data(data: Any) -> NewValue:
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
