"""Quick fixes of schema problems (`textDocument/codeAction`): a key or value changed to
the allowed one it misspells, and a missing required key added with a placeholder value.

The engine makes each fix on a parse of the text as it stands (`add` lays the pair out
among its neighbours, in the file's indent and line break; a value keeps its quoting
where it can), and the fix is sent as the one edit between the two texts. Fixes are
offered while the text parses: only then are its problems its own.
"""

from __future__ import annotations

from typing import List, Optional, Tuple

from lsprotocol import types

from tallix_cst._native import Document, Pair
from tallix_cst.lsp import inserts, problems
from tallix_cst.lsp.diagnostics import schema_diagnostic
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.schema.places import placeholder
from tallix_cst.schema.problems import Problem
from tallix_cst.schema.schema import Schema

QUICKFIX = types.CodeActionKind.QuickFix
# The keywords of a key that is not allowed; its problem stands at the key.
KEY_KEYWORDS = ("additionalProperties", "unevaluatedProperties")


def code_actions(document: OpenDocument, params: types.CodeActionParams) -> List[types.CodeAction]:
    """The fixes of the problems in the range that the editor asks about (of those among
    its diagnostics, when it names them)."""
    only = params.context.only
    if only is not None and not any(QUICKFIX == kind or QUICKFIX.startswith(f"{kind}.") for kind in only):
        return []
    schema = document.schema.schema
    if schema is None or not document.parses:
        return []
    first, last = sorted(document.offset(p) for p in (params.range.start, params.range.end))
    named = {(_span(d.range), d.message) for d in params.context.diagnostics}
    actions = []
    for shown in problems.current(document):
        if shown.start > last or shown.end < first:
            continue
        diagnostic = schema_diagnostic(document, shown)
        if named and (_span(diagnostic.range), diagnostic.message) not in named:
            continue
        fix = _fix(document.data, schema, shown.problem)
        if fix is None:
            continue
        title, fixed = fix
        edit = inserts.edit_between(document.index, document.data, fixed)
        actions.append(
            types.CodeAction(
                title=title,
                kind=QUICKFIX,
                diagnostics=[diagnostic],
                edit=types.WorkspaceEdit(changes={document.uri: [edit]}),
                is_preferred=True,
            )
        )
    return actions


def _fix(text: bytes, schema: Schema, problem: Problem) -> Optional[Tuple[str, bytes]]:
    """The title of a problem's fix and the text it makes, or None when there is none."""
    doc = Document.parse(text)
    try:
        if problem.missing is not None:
            fixed = _added(doc, schema, problem, problem.missing)
            title = f"Add `{problem.missing}`"
        elif problem.suggestion is not None:
            fixed = _changed(doc, text, problem, problem.suggestion)
            title = f"Change to `{problem.suggestion}`"
        else:
            return None
    except (ValueError, TypeError):  # the engine refuses it: no fix to offer
        return None
    return None if fixed is None or fixed == text else (title, fixed)


def _added(doc: Document, schema: Schema, problem: Problem, key: str) -> Optional[bytes]:
    """The text with the missing key added to the block that lacks it."""
    place = schema.place(problem.path).child(key)
    if place.named:
        return None  # a name to choose, not a value
    holder = inserts.pair_at(doc, problem.location.offset) if problem.path else doc
    if holder is None or isinstance(holder, Pair) and holder.kind != "block":
        return None
    inserts.add(holder, key, placeholder(place))
    return doc.to_bytes()


def _changed(doc: Document, text: bytes, problem: Problem, suggestion: str) -> Optional[bytes]:
    """The text with a key, or a value, changed to the one suggested."""
    start, end = problem.location.offset, problem.location.end_offset
    if problem.keyword in KEY_KEYWORDS:
        pair = inserts.pair_at(doc, start)
        if pair is None or pair.key.encode() != text[start:end]:
            return None
        pair.key = suggestion
        return doc.to_bytes()
    enclosing = doc.pairs_at(start)
    if not enclosing:
        return None
    pair = enclosing[-1]
    if pair.kind in ("literal", "string"):
        try:
            pair.value = suggestion  # in the value's own quoting
        except ValueError:
            pair.set_value(suggestion)
        return doc.to_bytes()
    written = inserts.value_text(suggestion)
    if pair.kind != "list" or written is None:
        return None
    return text[:start] + written.encode() + text[end:]  # an item, quoted as the engine would


def _span(r: types.Range) -> Tuple[int, int, int, int]:
    return r.start.line, r.start.character, r.end.line, r.end.character
