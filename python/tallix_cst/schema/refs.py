"""The JSON documents a schema is made of, and how its `$ref`s resolve among them.

A schema file and the local files its `$ref`s name are read once each, by URI. Nothing is
ever fetched from the network: a `$ref` to another scheme than `file:` is an error naming
it, except one under the folder of the schema's own `$id`, which stands for the file of
that name beside the schema file (a schema published at https://example.com/s/view.json
that refers to `fields.json` means its neighbour). References resolve as JSON Schema
says: against the base URI of the schema they stand in (its `$id`, or the file's), to a
JSON Pointer (`#/$defs/x`) or an anchor (`#x`).
"""

from __future__ import annotations

import json
import os
from pathlib import Path
from typing import Any, Dict, Iterator, List, Optional, Set, Tuple, Union
from urllib.parse import unquote, urljoin, urlsplit

# The base of a schema that has neither a file nor an `$id` (the validator's own): a
# relative `$ref` to another document has nothing to resolve against.
NO_BASE = "json-schema:///"

# Keywords whose value is a schema, a list of schemas, or a map of names to schemas.
ONE = (
    "additionalProperties",
    "additionalItems",
    "unevaluatedProperties",
    "unevaluatedItems",
    "contains",
    "propertyNames",
    "if",
    "then",
    "else",
    "not",
    "items",
    "contentSchema",
)
MANY = ("allOf", "anyOf", "oneOf", "prefixItems", "items")
MAP = ("properties", "patternProperties", "$defs", "definitions", "dependentSchemas", "dependencies")
# Those that apply to the very value their schema applies to.
IN_PLACE = frozenset(("not", "if", "then", "else", "allOf", "anyOf", "oneOf", "dependentSchemas", "dependencies"))
REFS = ("$ref", "$dynamicRef", "$recursiveRef")


class SchemaError(ValueError):
    """A schema that cannot be used: a file that cannot be read, is not JSON or not a
    valid schema, or a `$ref` that does not resolve. The message is one line that names
    the file."""


Json = Any


class Node:
    """A schema (a dict or a bool) as it stands in its document: with the base URI its
    references resolve against, and where it is (`uri#pointer`, for messages)."""

    __slots__ = ("schema", "base", "where")

    def __init__(self, schema: Json, base: str, where: str) -> None:
        self.schema = schema
        self.base = base
        self.where = where

    @property
    def key(self) -> Tuple[int, str]:
        return id(self.schema), self.base


def read_json(path: Union[str, os.PathLike[str]], name: Optional[str] = None) -> Json:
    """A JSON file's value; SchemaError naming the file (and the line and column of a
    syntax error) when it cannot be read or is not JSON."""
    shown = name if name is not None else os.fspath(path)
    try:
        with open(path, "rb") as f:
            data = f.read()
    except IsADirectoryError:
        raise SchemaError(f"{shown}: is a folder, not a schema file") from None
    except OSError as e:
        raise SchemaError(f"{shown}: {e.strerror or e}") from None
    try:
        return json.loads(data.decode("utf-8-sig"), parse_constant=_no_constant)
    except UnicodeDecodeError:
        raise SchemaError(f"{shown}: not UTF-8 text") from None
    except json.JSONDecodeError as e:
        raise SchemaError(f"{shown}:{e.lineno}:{e.colno}: not valid JSON: {e.msg}") from None
    except RecursionError:
        raise SchemaError(f"{shown}: nested too deeply to read") from None


def _no_constant(name: str) -> Any:
    raise json.JSONDecodeError(f"{name} is not JSON", name, 0)


def file_uri(path: Union[str, os.PathLike[str]]) -> str:
    return Path(os.path.abspath(path)).as_uri()


def shown_path(uri: str) -> str:
    """How a document's URI is named in messages: a file as a path relative to the current
    folder when it lies below it."""
    parts = urlsplit(uri)
    if parts.scheme != "file":
        return uri
    path = unquote(parts.path)
    try:
        relative = os.path.relpath(path)
    except ValueError:
        return path
    return path if relative.startswith("..") else relative


class Documents:
    """The documents of one schema by URI, with the anchors and embedded `$id`s found in
    them. `root` is the schema, at `base` (a file's URI, or NO_BASE)."""

    def __init__(self, root: Json, base: str) -> None:
        self.base = base
        self._documents: Dict[str, Json] = {}
        self._anchors: Dict[str, Node] = {}  # by `uri#name`
        # The folder of the root's own `$id`, which stands for the folder of its file.
        self._published: Optional[str] = None
        own = _own_id(root)
        if own and base.startswith("file:"):
            absolute = urljoin(base, own)
            if urlsplit(absolute).scheme not in ("", "file"):
                self._published = urljoin(absolute, ".")
        self._add(base, root)
        self.root = _pointer(root, base, "", base)

    def at(self, uri: str) -> Node:
        """The schema at an absolute URI (with its fragment), reading the file it lies in
        when it is a new one; SchemaError when it is nowhere."""
        document_uri, fragment = _defrag(uri)
        document = self._document(document_uri)
        if fragment and not fragment.startswith("/"):
            found = self._anchors.get(f"{document_uri}#{fragment}")
            if found is None:
                raise SchemaError(f"`$ref` {self._shown(uri)}: no anchor `{fragment}` there")
            return found
        return _pointer(document, document_uri, unquote(fragment), self._shown(uri))

    def resolve(self, node: Node, ref: str) -> Node:
        if not node.base.startswith(NO_BASE) or urlsplit(ref).scheme:
            return self.at(urljoin(node.base, ref))
        if not ref.startswith("#"):
            raise SchemaError(f"`$ref` {ref}: the schema has no file to resolve it against")
        return self.at(_defrag(node.base)[0] + ref)

    def retrieve(self, uri: str) -> Json:
        """The document at a URI, for the validator, which resolves references itself."""
        return self._document(_defrag(uri)[0])

    def walk(self) -> Iterator[Node]:
        """Every schema of the root document and of the documents its `$ref`s name (which
        are read), each once."""
        seen = set()
        stack: List[Node] = [self.root]
        while stack:
            node = stack.pop()
            if node.key in seen:
                continue
            seen.add(node.key)
            yield node
            stack.extend(child for _, child in children(node))
            if isinstance(node.schema, dict):
                for keyword in REFS:
                    ref = node.schema.get(keyword)
                    if isinstance(ref, str):
                        stack.append(self.resolve(node, ref))

    def _shown(self, uri: str) -> str:
        return uri[len(NO_BASE) :] if uri.startswith(NO_BASE) else uri

    def _document(self, uri: str) -> Json:
        if uri in self._documents:
            return self._documents[uri]
        parts = urlsplit(uri)
        if parts.scheme == "file":
            path = unquote(parts.path)
        elif self._published and uri.startswith(self._published):
            folder = os.path.dirname(unquote(urlsplit(self.base).path))
            path = os.path.join(folder, unquote(uri[len(self._published) :]))
        elif uri.startswith(NO_BASE):
            raise SchemaError(
                f"`$ref` {self._shown(uri)}: the schema has no file to resolve it against"
            )
        else:
            raise SchemaError(f"`$ref` {uri}: a remote schema, which is never fetched")
        document = read_json(path, shown_path(file_uri(path)))
        self._add(uri, document)
        return document

    def _add(self, uri: str, document: Json) -> None:
        """Registers a document with the resources (`$id`) and anchors inside it."""
        self._documents[uri] = document
        for node in _nodes(Node(document, uri, uri + "#")):
            if not isinstance(node.schema, dict):
                continue
            resource = _defrag(node.base)[0]
            own = _own_id(node.schema)
            if own is not None and not own.startswith("#"):
                self._documents.setdefault(resource, node.schema)
            anchors = [node.schema.get("$anchor"), node.schema.get("$dynamicAnchor")]
            if own is not None and own.startswith("#"):  # draft 7 and before
                anchors.append(own[1:])
            for anchor in anchors:
                if isinstance(anchor, str):
                    self._anchors.setdefault(f"{resource}#{anchor}", node)


def _defrag(uri: str) -> Tuple[str, str]:
    """The URI without its fragment, and the fragment (urldefrag would rewrite NO_BASE)."""
    document, _, fragment = uri.partition("#")
    return document, fragment


def _own_id(schema: Json) -> Optional[str]:
    if not isinstance(schema, dict):
        return None
    own = schema.get("$id", schema.get("id") if isinstance(schema.get("id"), str) else None)
    return own if isinstance(own, str) else None


def _entered(node_base: str, schema: Json) -> str:
    """The base URI inside a schema: its own `$id` against the base around it."""
    own = _own_id(schema)
    if own is None or own.startswith("#"):
        return node_base
    return urljoin(node_base, own)


def children(node: Node) -> Iterator[Tuple[str, Node]]:
    """The schemas directly inside a schema, each with the keyword it stands under."""
    schema = node.schema
    if not isinstance(schema, dict):
        return
    for keyword in ONE:
        value = schema.get(keyword)
        if isinstance(value, (dict, bool)):
            yield keyword, child_node(node, value, keyword)
    for keyword in MANY:
        value = schema.get(keyword)
        if isinstance(value, list):
            for i, item in enumerate(value):
                if isinstance(item, (dict, bool)):
                    yield keyword, child_node(node, item, f"{keyword}/{i}")
    for keyword in MAP:
        value = schema.get(keyword)
        if isinstance(value, dict):
            for name, item in value.items():
                if isinstance(item, (dict, bool)):
                    yield keyword, child_node(node, item, f"{keyword}/{_escape(name)}")


def child_node(node: Node, schema: Json, step: str) -> Node:
    """A schema inside another, under `step` (a keyword, and a name or index)."""
    return Node(schema, _entered(node.base, schema), f"{node.where}/{step}")


def _escape(name: str) -> str:
    return name.replace("~", "~0").replace("/", "~1")


def _nodes(top: Node) -> Iterator[Node]:
    """The schema and every schema inside it, without recursion."""
    top = Node(top.schema, _entered(top.base, top.schema), top.where)
    stack = [top]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(child for _, child in children(node))


def _pointer(document: Json, uri: str, pointer: str, ref: str) -> Node:
    node = Node(document, _entered(uri, document), uri + "#")
    if not pointer:
        return node
    for token in pointer.split("/")[1:]:
        token = token.replace("~1", "/").replace("~0", "~")
        value = node.schema
        if isinstance(value, dict) and token in value:
            inner = value[token]
        elif isinstance(value, list) and token.isdigit() and int(token) < len(value):
            inner = value[int(token)]
        else:
            raise SchemaError(f"`$ref` {ref}: nothing at `{pointer}`")
        node = Node(inner, _entered(node.base, inner), f"{node.where}/{_escape(token)}")
    return node


def in_place(documents: Documents, node: Node) -> Iterator[Node]:
    """The schemas that apply to the very value `node` applies to: its references and
    its allOf, anyOf, oneOf, not, if, then, else and dependent schemas."""
    schema = node.schema
    if not isinstance(schema, dict):
        return
    for keyword in REFS:
        ref = schema.get(keyword)
        if isinstance(ref, str):
            yield documents.resolve(node, ref)
    for keyword, child in children(node):
        if keyword in IN_PLACE:
            yield child


def check_cycles(documents: Documents) -> None:
    """SchemaError for a schema that refers to itself without going into a value: such a
    reference would be followed for ever."""
    done: Set[Tuple[int, str]] = set()
    for start in documents.walk():
        if start.key in done:
            continue
        # Depth first over the in-place references, without recursion.
        path: List[Node] = [start]
        on_path = {start.key}
        pending: List[Iterator[Node]] = [in_place(documents, start)]
        while pending:
            following = next(pending[-1], None)
            if following is None:
                pending.pop()
                done.add(path[-1].key)
                on_path.discard(path.pop().key)
                continue
            if following.key in on_path:
                cycle = path[[n.key for n in path].index(following.key) :] + [following]
                shown = " → ".join(_short(n.where, documents.base) for n in cycle)
                raise SchemaError(f"`$ref` cycle that never reaches a value: {shown}")
            if following.key in done:
                continue
            path.append(following)
            on_path.add(following.key)
            pending.append(in_place(documents, following))


def _short(where: str, base: str) -> str:
    uri, fragment = where.split("#", 1)
    if uri == base:
        return "#" + fragment
    return f"{shown_path(uri)}#{fragment}"
