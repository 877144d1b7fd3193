"""Read, edit and write Quarel configuration files without losing their layout."""

from tallix_cst._native import Document, Pair, QuarelSyntaxError, parse_quarel

__all__ = ["Document", "Pair", "parse_quarel", "QuarelSyntaxError"]
__version__ = "0.1.0"
