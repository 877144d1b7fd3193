"""Read, edit and write Quarel configuration files without losing their layout."""

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
]
__all__ += values.__all__
__version__ = "0.1.0"
