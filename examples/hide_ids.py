"""Hides the key dimensions (primary keys and `*_id` columns) of every view, in place.

    python hide_ids.py views/*.quarel
    quarel apply hide_ids.py views/ --diff

Only the lines that change are touched: comments, blank lines, quoting and
carriage returns stay as they were.
"""

from __future__ import annotations

import sys
from typing import List

import tallix_cst


def is_key(dimension: tallix_cst.Pair) -> bool:
    name = dimension.name or ""
    return dimension.get("primary_key") == "yes" or name.endswith("_id")


def hide_ids(doc: tallix_cst.Document) -> List[str]:
    """Sets `hidden: yes` on key dimensions not hidden yet, and returns their names."""
    hidden = []
    for view in doc.find_all("view"):
        for dimension in view.find_all("dimension"):
            if dimension.kind == "block" and is_key(dimension) and dimension.get("hidden") != "yes":
                dimension["hidden"] = "yes"  # changes an existing `hidden`, or adds one
                if not dimension.comments:
                    dimension.comments = ["A key for joins, not for people."]
                hidden.append(f"{view.name}.{dimension.name}")
    return hidden


def edit(doc: tallix_cst.Document, path: str) -> None:
    """For `quarel apply hide_ids.py views/`, which runs it over many files at once."""
    hide_ids(doc)


def main(paths: List[str]) -> int:
    for path in paths:
        doc = tallix_cst.load(path)
        names = hide_ids(doc)
        if names:
            doc.dump(path)
            print(f"{path}: hid {', '.join(names)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
