"""What a schema says of each place of a document's plain value: the one place where the
schema is read for unwrap()'s coercion, for the checks' messages and for an editor.

A place is a path of keys and indexes into `Document.unwrap()`'s value. The schemas that
apply there are found through `$ref`, `allOf`, `anyOf`, `oneOf` and `if`/`then`/`else`,
and kept as alternatives, each a set of schemas that all apply: what the place accepts is
what one alternative accepts. A place whose alternatives would grow past a bound is left
vague: it accepts anything, and says nothing more.
"""

from __future__ import annotations

import itertools
import re
import threading
from typing import Any, Dict, FrozenSet, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

from tallix_cst.schema.refs import Documents, Json, Node, child_node, children

#: The JSON types a plain value may have (null it never has).
TYPES = ("string", "integer", "number", "boolean", "array", "object")
ALL: FrozenSet[str] = frozenset(TYPES)
MAX_ALTERNATIVES = 64

Step = Union[str, int]
Alternative = Tuple[Node, ...]
# A key that no schema names: the place of every key the schema does not name.
_OTHER_KEY: Any = object()


def json_types(value: Json) -> FrozenSet[str]:
    """The types of a JSON value, as `accepts` counts them: a whole number is an integer."""
    if isinstance(value, bool):
        return frozenset(("boolean",))
    if isinstance(value, int) or isinstance(value, float) and value.is_integer():
        return frozenset(("integer",))
    if isinstance(value, float):
        return frozenset(("number",))
    for kind, name in ((str, "string"), (list, "array"), (dict, "object")):
        if isinstance(value, kind):
            return frozenset((name,))
    return frozenset()


def own_types(schema: Json) -> FrozenSet[str]:
    """The types a schema's own `type`, `const` and `enum` allow."""
    if schema is False:
        return frozenset()
    if not isinstance(schema, dict):
        return ALL
    allowed = ALL
    declared = schema.get("type")
    if isinstance(declared, (str, list)):
        names = {declared} if isinstance(declared, str) else set(declared)
        if "number" in names:
            names.add("integer")
        allowed = allowed & frozenset(names)
    if "const" in schema:
        allowed = allowed & json_types(schema["const"])
    if isinstance(schema.get("enum"), list):
        allowed = allowed & frozenset().union(*map(json_types, schema["enum"]))
    return allowed


class Place:
    """The schemas that apply at one place of a document's plain value."""

    def __init__(
        self, places: Places, number: int, alternatives: Sequence[Alternative], vague: bool
    ) -> None:
        self._places = places
        #: The place's number in its schema's `places`.
        self.number = number
        #: Each a set of schemas that all apply; the value must satisfy one set.
        self.alternatives = tuple(alternatives)
        #: Whether the schema there is too tangled to say anything of.
        self.vague = vague
        self._children: Dict[Any, Place] = {}
        #: The JSON types the place accepts.
        self.accepts: FrozenSet[str] = (
            ALL
            if vague
            else frozenset().union(*(_accepts(alternative) for alternative in alternatives))
        )

    def child(self, step: Step) -> Place:
        """The place of a key (a str) or of a list's item (an int) in the value here."""
        if step not in self._children:
            self._children[step] = self._places._child(self, step)
        return self._children[step]

    def at(self, path: Sequence[Step]) -> Place:
        place = self
        for step in path:
            place = place.child(step)
        return place

    def other(self) -> Place:
        """The place of every key the schema does not name here."""
        return self.child(_OTHER_KEY)

    def single(self, types: Iterable[str]) -> Place:
        """The place that a key's one value, of one of these JSON types, takes here:
        where the schema takes a list but none of those types, unwrap() makes the value
        a list of one, and it stands at the list's first item."""
        if "array" in self.accepts and not self.accepts & frozenset(types):
            return self.child(0)
        return self

    def written(self, path: Sequence[Step], types: Iterable[str] = ()) -> Place:
        """The place of the value at a path as the text writes it (`Document.path_at`),
        one value of a key taken as unwrap() takes it: as a list of one where the schema
        takes a list there but not that value, a block on the way or, at the end, a
        value of `types`."""
        place = self
        for number, step in enumerate(path):
            place = place.child(step)
            following = path[number + 1] if number + 1 < len(path) else None
            if isinstance(following, str):
                place = place.single(("object",))
            elif following is None and types:
                place = place.single(types)
        return place

    @property
    def named(self) -> bool:
        """Whether a key here takes named blocks (`dimension: id { ... }`): the schema
        names no key in its value but takes a block under any other."""
        return (
            not self.vague
            and "object" in self.accepts
            and not self.keys()
            and self.other_keys
            and self.other().accepts == frozenset(("object",))
        )

    @property
    def schemas(self) -> Tuple[Json, ...]:
        """The schemas that apply here, each once, in the order of the alternatives."""
        seen: Dict[Tuple[int, str], Json] = {}
        for alternative in self.alternatives:
            for node in alternative:
                seen.setdefault(node.key, node.schema)
        return tuple(seen.values())

    def keys(self) -> Dict[str, Place]:
        """The keys the schema names here (its `properties`), in its order, with their
        places."""
        names: Dict[str, None] = {}
        for schema in self._object_schemas():
            properties = schema.get("properties")
            if isinstance(properties, dict):
                names.update(dict.fromkeys(properties))
        return {name: self.child(name) for name in names}

    @property
    def other_keys(self) -> bool:
        """Whether keys that `keys()` does not name may stand here."""
        return self.vague or any(
            "object" in _accepts(alternative)
            and not any(_names_only(node.schema) for node in alternative)
            for alternative in self.alternatives
        )

    @property
    def required(self) -> FrozenSet[str]:
        """The keys every alternative requires here."""
        found: Optional[FrozenSet[str]] = None
        for alternative in self.alternatives:
            keys: FrozenSet[str] = frozenset()
            for node in alternative:
                listed = node.schema.get("required") if isinstance(node.schema, dict) else None
                if isinstance(listed, list):
                    keys |= frozenset(k for k in listed if isinstance(k, str))
            found = keys if found is None else found & keys
        return found or frozenset()

    def required_in_order(self) -> List[str]:
        """The keys every alternative requires, in the order the schema names them (the
        rest after, in alphabetical order)."""
        names = list(self.keys())
        return sorted(self.required, key=lambda k: (names.index(k) if k in names else len(names), k))

    @property
    def enum(self) -> Optional[List[Json]]:
        """The values allowed here when the schema lists them (`enum`, `const`), or None."""
        values: List[Json] = []
        for alternative in self.alternatives or ((),):
            listed = None
            for node in alternative:
                schema = node.schema
                if isinstance(schema, dict) and "const" in schema:
                    listed = [schema["const"]]
                elif isinstance(schema, dict) and isinstance(schema.get("enum"), list):
                    listed = schema["enum"]
            if listed is None:
                return None
            values.extend(v for v in listed if v not in values)
        return values

    def annotation(self, keyword: str) -> Json:
        """The first value of an annotation keyword (`title`, `description`,
        `markdownDescription`, `default`, `examples`, ...) among the schemas here, or
        None."""
        for schema in self.schemas:
            if isinstance(schema, dict) and keyword in schema:
                return schema[keyword]
        return None

    def _object_schemas(self) -> Iterator[Dict[str, Json]]:
        for alternative in self.alternatives:
            if "object" in _accepts(alternative):
                for node in alternative:
                    if isinstance(node.schema, dict):
                        yield node.schema


def placeholder(place: Place, depth: int = 3) -> Json:
    """A value to write for a key that the schema requires at a place: its `default`,
    its first example or allowed value, else an empty value of a type it takes (empty
    quotes first; a block holds its own required keys, `depth` levels down, but for those
    that take named blocks)."""
    for keyword in ("default", "examples", "const"):
        value = place.annotation(keyword)
        if keyword == "examples":
            if isinstance(value, list) and value:
                return value[0]
        elif value is not None:
            return value
    if place.enum:
        return place.enum[0]
    if place.named:
        return {}  # blocks by name, and no name to invent
    accepts = place.accepts
    if "string" in accepts or not accepts:
        return ""
    if "boolean" in accepts:
        return False
    if accepts & {"integer", "number"}:
        return 0
    if "object" in accepts:
        required = [key for key in place.required_in_order() if not place.child(key).named] if depth > 0 else []
        return {key: placeholder(place.child(key), depth - 1) for key in required}
    return [] if "array" in accepts else {}


def _names_only(schema: Json) -> bool:
    """Whether a schema allows no key but those it names."""
    return isinstance(schema, dict) and (
        schema.get("additionalProperties") is False or schema.get("unevaluatedProperties") is False
    ) and not schema.get("patternProperties")


def _accepts(alternative: Alternative) -> FrozenSet[str]:
    allowed = ALL
    for node in alternative:
        allowed = allowed & own_types(node.schema)
    return allowed


Description = Tuple[Tuple[str, ...], Optional[Dict[str, int]], int, Tuple[int, ...], int]


class Places:
    """Every place of a schema that was asked for, by number; place 0 is the root.

    `describe` and `child` serve `Document.unwrap()`, which asks each place once a call
(a description is kept: a run over many files asks for the same places again and again):
    `describe(n)` is (accepts, keys, other_key, items, other_item): the types accepted,
    the places of the keys the schema names ({key: number}, or None when a key's place
    depends on more than its name, as with `patternProperties`: `child(n, key)` then
    tells it), the place of any other key, those of the first items of a list and the
    place of the rest. A place where the schema says nothing is -1.
    """

    def __init__(self, documents: Documents) -> None:
        self._documents = documents
        self._numbering = threading.Lock()
        self._expanded: Dict[Tuple[int, str], Optional[List[Alternative]]] = {}
        self._by_alternatives: Dict[Any, Place] = {}
        self._numbered: List[Place] = []
        self._described: Dict[int, Description] = {}
        self.root = self._place(self._expand(documents.root))

    def describe(self, number: int) -> Description:
        if number not in self._described:
            self._described[number] = self._description(number)
        return self._described[number]

    def _description(self, number: int) -> Description:
        place = self._numbered[number]
        schemas = [node.schema for alternative in place.alternatives for node in alternative]
        dynamic = any(isinstance(s, dict) and s.get("patternProperties") for s in schemas)
        keys = None if dynamic else {k: _number(p) for k, p in place.keys().items()}
        prefix = max((len(_prefix(s)) for s in schemas if isinstance(s, dict)), default=0)
        return (
            tuple(sorted(place.accepts)),
            keys,
            _number(place.child(_OTHER_KEY)),
            tuple(_number(place.child(i)) for i in range(prefix)),
            _number(place.child(prefix)),
        )

    def child(self, number: int, key: str) -> int:
        return _number(self._numbered[number].child(key))

    def _place(self, alternatives: Optional[List[Alternative]]) -> Place:
        vague = alternatives is None or len(alternatives) > MAX_ALTERNATIVES
        kept = [] if vague or alternatives is None else _distinct(alternatives)
        key = "vague" if vague else frozenset(tuple(sorted(n.key for n in a)) for a in kept)
        with self._numbering:  # documents are checked on threads of their own
            if key not in self._by_alternatives:
                place = Place(self, len(self._numbered), kept, vague)
                self._numbered.append(place)
                self._by_alternatives[key] = place
            return self._by_alternatives[key]

    def _child(self, place: Place, step: Step) -> Place:
        if place.vague:
            return place
        wanted = "array" if isinstance(step, int) else "object"
        found: List[Alternative] = []
        for alternative in place.alternatives:
            if wanted not in _accepts(alternative):
                continue
            together: Optional[List[Alternative]] = [()]
            for node in alternative:
                for inner in _inner(node, step):
                    together = _product(together, self._expand(inner))
            if together is None:
                return self._place(None)
            found.extend(together)
            if len(found) > MAX_ALTERNATIVES:
                return self._place(None)
        return self._place(found)

    def _expand(self, node: Node) -> Optional[List[Alternative]]:
        """The alternatives a schema stands for; None past the bound. A `$ref` cycle that
        never reaches a value was refused with the schema."""
        if node.key in self._expanded:
            return self._expanded[node.key]
        schema = node.schema
        if not isinstance(schema, dict) or not schema:
            # `true`, `{}` and anything else but `false` allow anything.
            result: Optional[List[Alternative]] = [(node,)] if schema is False else [()]
        else:
            result = [(node,)]
            for keyword in ("$ref", "$dynamicRef", "$recursiveRef"):
                if isinstance(schema.get(keyword), str):
                    result = _product(result, self._expand(self._documents.resolve(node, schema[keyword])))
            for keyword, members in _in_place(node):
                if keyword == "allOf":
                    for member in members:
                        result = _product(result, self._expand(member))
                else:
                    result = _product(result, self._either(members))
        self._expanded[node.key] = result
        return result

    def _either(self, members: List[Node]) -> Optional[List[Alternative]]:
        found: List[Alternative] = []
        for member in members:
            alternatives = self._expand(member)
            if alternatives is None:
                return None
            found.extend(alternatives)
        return found


def _number(place: Place) -> int:
    unconstrained = not place.vague and place.alternatives == ((),)
    return -1 if place.vague or unconstrained else place.number


def _distinct(alternatives: List[Alternative]) -> List[Alternative]:
    seen = set()
    kept = []
    for alternative in alternatives:
        unique = tuple({n.key: n for n in alternative}.values())
        key = frozenset(n.key for n in unique)
        if key not in seen:
            seen.add(key)
            kept.append(unique)
    return kept


def _product(
    left: Optional[List[Alternative]], right: Optional[List[Alternative]]
) -> Optional[List[Alternative]]:
    if left is None or right is None or len(left) * len(right) > MAX_ALTERNATIVES:
        return None
    return [a + b for a, b in itertools.product(left, right)]


def _in_place(node: Node) -> Iterator[Tuple[str, List[Node]]]:
    """allOf, and the choices anyOf, oneOf and if/then/else offer, of a schema."""
    grouped: Dict[str, List[Node]] = {}
    for keyword, child in children(node):
        grouped.setdefault(keyword, []).append(child)
    for keyword in ("allOf", "anyOf", "oneOf"):
        if keyword in grouped:
            yield keyword, grouped[keyword]
    if "then" in grouped or "else" in grouped:
        # One of the two applies; with one missing, nothing does in its case.
        either = grouped.get("then", []) + grouped.get("else", [])
        if len(either) == 1:
            either.append(Node(True, node.base, node.where))
        yield "anyOf", either


def _prefix(schema: Dict[str, Json]) -> List[Json]:
    if isinstance(schema.get("prefixItems"), list):
        return list(schema["prefixItems"])
    return list(schema["items"]) if isinstance(schema.get("items"), list) else []


def _inner(node: Node, step: Step) -> List[Node]:
    """The schemas a schema sets for the value at a key or index inside its value."""
    schema = node.schema
    if not isinstance(schema, dict):
        return []
    if isinstance(step, int):
        prefix = _prefix(schema)
        keyword = "prefixItems" if isinstance(schema.get("prefixItems"), list) else "items"
        if step < len(prefix):
            return [child_node(node, prefix[step], f"{keyword}/{step}")]
        # Past a list of item schemas written as `items` (before 2020-12), additionalItems.
        rest = "additionalItems" if isinstance(schema.get("items"), list) else "items"
        for keyword in (rest, "unevaluatedItems"):
            value = schema.get(keyword)
            if isinstance(value, (dict, bool)):
                return [child_node(node, value, keyword)]
        return []
    found = []
    properties = schema.get("properties")
    if step is not _OTHER_KEY and isinstance(properties, dict) and step in properties:
        found.append(child_node(node, properties[step], f"properties/{step}"))
    patterns = schema.get("patternProperties")
    if step is not _OTHER_KEY and isinstance(patterns, dict):
        for pattern, value in patterns.items():
            if _matches(pattern, step):
                found.append(child_node(node, value, f"patternProperties/{pattern}"))
    if found:
        return found
    for keyword in ("additionalProperties", "unevaluatedProperties"):
        value = schema.get(keyword)
        if isinstance(value, (dict, bool)):
            return [child_node(node, value, keyword)]
    return []


def _matches(pattern: str, key: str) -> bool:
    try:
        return re.search(pattern, key) is not None
    except re.error:  # a pattern Python cannot read: the validator judges
        return False
