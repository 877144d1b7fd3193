"""What the document's schema offers for completion: the keys a block may hold, and the
values a key may take."""

from __future__ import annotations

from typing import Dict, List, Optional, Set, Tuple

from lsprotocol import types

from tallix_cst._native import Document, Pair
from tallix_cst.lsp import inserts
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.parsed import Parsed
from tallix_cst.lsp.workspace import Workspace
from tallix_cst.schema import wording
from tallix_cst.schema.places import ALL, TYPES, Place, placeholder
from tallix_cst.schema.refs import Json

# What a value typed after a key may be.
SCALARS = ("string", "integer", "number", "boolean")
Kind = types.CompletionItemKind


def place_of(document: OpenDocument, parsed: Parsed, holder: Optional[Pair]) -> Optional[Place]:
    """What the schema says of a block (None for the document), or None without one."""
    schema = document.schema.schema
    if schema is None:
        return None
    path = [] if holder is None else parsed.doc.path_at(_key_offset(holder))
    return schema.place().written(path, ("object",))


def keys(
    document: OpenDocument,
    parsed: Parsed,
    holder: Optional[Pair],
    present: Set[str],
    where: types.Range,
) -> Tuple[List[types.CompletionItem], bool]:
    """The keys the schema allows in the block that it does not hold yet (or that may
    repeat), required ones first, each in the schema's order; and whether the schema
    allows keys it does not name there (or there is none)."""
    place = place_of(document, parsed, holder)
    if place is None or place.vague or "object" not in place.accepts:
        return [], True
    required = place.required
    named = place.keys()
    offered = [
        (key, child)
        for key, child in sorted(named.items(), key=lambda item: item[0] not in required)
        if key not in present or child.named or "array" in child.accepts
    ]
    scratch = _Scratch(parsed, holder)
    items = [
        _key_item(key, child, key in required, rank, where, scratch, document.workspace)
        for rank, (key, child) in enumerate(offered)
    ]
    return items, place.other_keys


def values(
    document: OpenDocument,
    parsed: Parsed,
    holder: Optional[Pair],
    key: str,
    index: Optional[int],
    where: types.Range,
    space: str = "",
    after: bytes = b"",
) -> List[types.CompletionItem]:
    """The values the schema names for a key (the item `index` of a list written there):
    its allowed values, yes and no where it takes a boolean, then its examples and its
    default, each as the engine writes it for that key (an expression with its `;;`
    unless the line has one `after` the cursor)."""
    block = place_of(document, parsed, holder)
    if block is None:
        return []
    place = block.child(key)
    place = place.single(SCALARS) if index is None else place.child(index)
    found: Dict[str, Tuple[Kind, str]] = {}
    written_as = "k" if index is not None else key  # the engine quotes by the key
    terminated = b";;" in after

    def offer(value: Json, kind: Kind, detail: str) -> None:
        text = inserts.value_text(value, written_as)
        if text is not None and terminated and text.endswith(";;"):
            text = text[:-2].rstrip(" ")  # the expression's `;;` is there already
        if text is not None and text not in found:
            found[text] = (kind, detail)

    for value in place.enum or []:
        offer(value, Kind.EnumMember, "allowed")
    if "boolean" in place.accepts and place.enum is None:
        offer(True, Kind.Value, "yes or no")
        offer(False, Kind.Value, "yes or no")
    examples = place.annotation("examples")
    for value in examples if isinstance(examples, list) else []:
        offer(value, Kind.Value, "example")
    default = place.annotation("default")
    if default is not None:
        offer(default, Kind.Value, "default")
    return [
        types.CompletionItem(
            label=text,
            kind=kind,
            detail=detail,
            sort_text=f"0{rank:06d}",
            filter_text=text,
            text_edit=types.TextEdit(range=where, new_text=space + text),
        )
        for rank, (text, (kind, detail)) in enumerate(found.items())
    ]


def documentation(place: Place, markdown: bool = True) -> Optional[types.MarkupContent]:
    """A place's title and description, as markdown (or as that text, plain)."""
    parts = []
    title = place.annotation("title")
    if isinstance(title, str) and title:
        parts.append(f"**{title}**")
    description = place.annotation("markdownDescription")
    if not isinstance(description, str):
        description = place.annotation("description")
    if isinstance(description, str) and description:
        parts.append(description)
    if not parts:
        return None
    kind = types.MarkupKind.Markdown if markdown else types.MarkupKind.PlainText
    return types.MarkupContent(kind=kind, value="\n\n".join(parts))


def type_words(place: Place) -> str:
    """What a key takes, in words: "a string", "named blocks", "one of `a` or `b`"."""
    if place.named:
        return "named blocks"
    if place.enum is not None:
        return f"one of {wording.values(place.enum)}"
    if place.accepts == ALL:
        return "anything"
    return wording.types(sorted(place.accepts, key=TYPES.index)) or "nothing"


class _Scratch:
    """A copy of the parsed text to lay blocks out in, parsed once it is needed."""

    def __init__(self, parsed: Parsed, holder: Optional[Pair]) -> None:
        self._text = parsed.text
        self._holder = None if holder is None else _key_offset(holder)
        self._container: Optional[Tuple[Document, Optional[inserts.Container]]] = None

    def block(self, key: str, named: bool, value: Dict[str, Json], snippets: bool) -> Optional[str]:
        if self._container is None:
            doc = Document.parse(self._text)
            self._container = (doc, doc if self._holder is None else inserts.pair_at(doc, self._holder))
        doc, container = self._container
        if container is None:
            return None
        return inserts.block_snippet(doc, container, key, named, value, snippets)


def _key_item(
    key: str,
    place: Place,
    required: bool,
    rank: int,
    where: types.Range,
    scratch: _Scratch,
    workspace: Workspace,
) -> types.CompletionItem:
    """A key, inserted as `key: `, or, for one that takes a block, as the block laid out
    in the file's style with its required keys."""
    snippets = workspace.snippets
    block = place.other() if place.named else place.single(("object",))
    text: Optional[str] = None
    if place.named or block.accepts == frozenset(("object",)):
        value = placeholder(block)
        text = scratch.block(key, place.named, value if isinstance(value, dict) else {}, snippets)
    if text is None and snippets and inserts.is_expression(key):
        text = f"{key}: $0 ;;"
    snippet = text is not None and snippets
    return types.CompletionItem(
        label=key,
        kind=Kind.Class if place.named else Kind.Struct if text is not None else Kind.Property,
        detail=("required, " if required else "") + type_words(place),
        documentation=documentation(place, workspace.markdown),
        sort_text=f"0{rank:06d}",
        filter_text=key,
        text_edit=types.TextEdit(range=where, new_text=text if text is not None else f"{key}: "),
        insert_text_format=types.InsertTextFormat.Snippet if snippet else types.InsertTextFormat.PlainText,
        insert_text_mode=types.InsertTextMode.AdjustIndentation if text is not None and "\n" in text else None,
    )


def _key_offset(pair: Pair) -> int:
    location = pair.location
    assert location is not None
    return location.offset
