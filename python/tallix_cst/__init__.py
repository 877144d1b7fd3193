"""Read, edit and write Quarel configuration files without losing their layout."""

from typing import TYPE_CHECKING, Any

from tallix_cst import values
from tallix_cst._native import (
    Document,
    Location,
    Pair,
    QuarelSyntaxError,
    parse_quarel,
    recovered_text,
    syntax_errors,
)
from tallix_cst.files import dump, load, loads
from tallix_cst.formatting import format_text
from tallix_cst.selector import Selector
from tallix_cst.values import *  # noqa: F403 - the type aliases, listed in values.__all__

__all__ = [
    "Document",
    "Pair",
    "parse_quarel",
    "QuarelSyntaxError",
    "syntax_errors",
    "recovered_text",
    "load",
    "loads",
    "dump",
    "Selector",
    "Location",
    "format_text",
    "Schema",
    "SchemaError",
    "Problem",
]
__all__ += values.__all__
__version__ = "0.1.0"

if TYPE_CHECKING:
    from tallix_cst.schema import Problem, Schema, SchemaError

# The schema classes load with their first use: importing them costs more than the rest of
# the package, which most programs use without a schema.
_SCHEMA_NAMES = ("Schema", "SchemaError", "Problem")


def __getattr__(name: str) -> Any:
    if name in _SCHEMA_NAMES:
        from tallix_cst import schema

        return getattr(schema, name)
    raise AttributeError(f"module 'tallix_cst' has no attribute '{name}'")
