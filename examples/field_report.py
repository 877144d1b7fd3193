"""Lists the dimensions and measures of every view, with their types.

    python field_report.py views/*.quarel
"""

from __future__ import annotations

import sys
from typing import Iterator, List, Tuple

import tallix_cst

Field = Tuple[str, str, str, str]


def fields(doc: tallix_cst.Document) -> Iterator[Field]:
    """(view, dimension or measure, name, type) for every field of every view."""
    for view in doc.find_all("view"):
        for pair in view:
            if pair.key not in ("dimension", "measure") or pair.name is None:
                continue
            kind = pair.get("type", "string")  # dimensions are strings unless they say otherwise
            yield str(view.name), pair.key, pair.name, kind if isinstance(kind, str) else "?"


def main(paths: List[str]) -> int:
    for path in paths:
        try:
            doc = tallix_cst.load(path)
        except tallix_cst.QuarelSyntaxError as e:
            print(f"{path}:{e.line}:{e.column}: {e.message}", file=sys.stderr)
            return 1
        for view, key, name, kind in fields(doc):
            print(f"{view:12} {key:10} {name:16} {kind}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
