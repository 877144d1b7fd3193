"""Read, edit and write Quarel configuration files without losing their layout."""

from tallix_cst._native import Document, Location, Pair, QuarelSyntaxError, parse_quarel
from tallix_cst.values import (
    DataItem,
    Kind,
    ListItem,
    NewItem,
    NewPairValue,
    NewValue,
    PairData,
    Scalar,
    Value,
)
from tallix_cst.files import dump, load, loads
from tallix_cst.selector import Selector

__all__ = [
    "Document",
    "Pair",
    "parse_quarel",
    "QuarelSyntaxError",
    "load",
    "loads",
    "dump",
    "Selector",
    "Location",
    "DataItem",
    "Kind",
    "ListItem",
    "NewItem",
    "NewPairValue",
    "NewValue",
    "PairData",
    "Scalar",
    "Value",
]
__version__ = "0.1.0"
