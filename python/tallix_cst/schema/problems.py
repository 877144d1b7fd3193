"""A document's problems against a schema: each at the place a person would fix, in
words of its own.

The document's plain value (unwrap) is checked by the validator; only for the few places
that fail is the way back to the text found (`Document._locate`), by the engine's same
rules. Under `anyOf` and `oneOf` the branch that came nearest explains the failure.
"""

from __future__ import annotations

import contextlib
import gc
import json
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, Iterator, List, Optional, Protocol, Sequence, Set, Tuple

from tallix_cst._native import Location
from tallix_cst.schema import wording
from tallix_cst.schema.places import Place, Places, Step
from tallix_cst.selector import escape

if TYPE_CHECKING:
    from tallix_cst._native import Document


class Schema(Protocol):
    """What finding problems asks of a schema (`tallix_cst.schema.schema.Schema`, which
    calls it: this module does not import that one)."""

    @property
    def places(self) -> Places: ...
    def place(self, path: Sequence[Step]) -> Place: ...
    def is_valid(self, data: Any) -> bool: ...
    def errors(self, data: Any) -> List[Any]: ...


Span = Tuple[int, int, int, int, int, int]
Segments = List[Tuple[str, Optional[str]]]


@dataclass(frozen=True)
class Problem:
    """One thing wrong in a document, at the place to fix it."""

    #: What is wrong, in a sentence.
    message: str
    #: Where: a `Location`, as `Pair.location` gives one, of the key, name or value to fix.
    location: Location
    #: The selector of the pair concerned (`view:users/dimension:id/type`; `/` for the
    #: document).
    selector: str
    #: The schema keyword that failed (`type`, `enum`, `required`, ...), or what the
    #: language refuses: `duplicate` for a block name given twice, `form` for a key given
    #: both with a name and without, `syntax` for a syntax error.
    keyword: str
    #: `error`.
    severity: str = "error"
    #: The place in the document's `unwrap()` value.
    path: Tuple[Step, ...] = ()
    #: What to write at `location` instead, when the schema suggests it: the allowed key
    #: or value closest to the one written.
    suggestion: Optional[str] = None
    #: The key to add, for a required key that is missing.
    missing: Optional[str] = None


@dataclass
class Located:
    """Where a place of the plain value stands in the text (`Document._locate`)."""

    what: str
    span: Span
    first: Optional[Span]
    count: int
    kind: Optional[str]
    pairs: Segments


def find_problems(schema: Schema, document: Document) -> List[Problem]:
    with _collector_paused():
        return _found(schema, document)


def _found(schema: Schema, document: Document) -> List[Problem]:
    data = document.unwrap(schema)
    explainer = _Explainer(schema, document, data)
    problems = explainer.left_out()
    try:
        errors = [] if schema.is_valid(data) else schema.errors(data)
    except ValueError as e:  # nesting past what the validator reads
        problems.append(explainer.at_top(f"the document cannot be checked: {e}", "depth"))
        errors = []
    problems.extend(explainer.explain(errors))
    unique = list(dict.fromkeys(problems))
    unique.sort(key=lambda p: (p.location.offset, p.location.end_offset, p.message))
    return unique


@contextlib.contextmanager
def _collector_paused() -> Iterator[None]:
    """The plain value of a large document is a great many dicts and lists, none in a
    cycle: the garbage collector's passes over them while they are made and checked took
    a sixth of the instructions of `quarel check --schema` on 10 MB (bench/check_schema.py)."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


def kind_of(error: Any) -> str:
    """The error's kind, as the validator names it (`Type`, `AnyOf`, ...)."""
    return type(error.kind).__name__.replace("ValidationErrorKind_", "")


def _keyword(error: Any) -> str:
    steps = [step for step in error.schema_path if isinstance(step, str)]
    if kind_of(error) == "FalseSchema":
        # The schema `false` stands under a keyword, for one key or item.
        path = list(error.schema_path)
        if len(path) >= 2 and path[-2] in ("properties", "patternProperties", "prefixItems", "dependentSchemas"):
            return str(path[-2])
    return steps[-1] if steps else kind_of(error)


class _Explainer:
    def __init__(self, schema: Schema, document: Document, data: Any) -> None:
        self._schema = schema
        self._document = document
        self._data = data
        self._text: Optional[bytes] = None
        self._located: Dict[Tuple[Tuple[Step, ...], bool], Optional[Located]] = {}
        self._missing: Set[Tuple[Tuple[Step, ...], str]] = set()

    # Where things are.

    def place(self, path: Sequence[Step], as_key: bool = False) -> Optional[Located]:
        key = (tuple(path), as_key)
        if key not in self._located:
            found = self._document._locate(list(path), as_key)
            self._located[key] = None if found is None else Located(*found)
        return self._located[key]

    def text(self) -> bytes:
        if self._text is None:
            self._text = self._document.to_bytes()
        return self._text

    def location(self, place: Located) -> Location:
        if place.what == "document":
            return self._first_line()
        return Location(*place.span)

    def _first_line(self) -> Location:
        text = self.text()
        start = 3 if text.startswith(b"\xef\xbb\xbf") else 0
        end = len(text)
        for stop in (b"\n", b"\r"):
            found = text.find(stop, start)
            if found != -1:
                end = min(end, found)
        return Location(1, 1, start, 1, 1 + end - start, end)

    def at_top(self, message: str, keyword: str) -> Problem:
        return Problem(message, self._first_line(), "/", keyword)

    def problem(
        self,
        message: str,
        place: Located,
        keyword: str,
        path: Sequence[Step],
        suggestion: Optional[str] = None,
        missing: Optional[str] = None,
    ) -> Problem:
        return Problem(
            message,
            self.location(place),
            _selector(place.pairs),
            keyword,
            "error",
            tuple(path),
            suggestion,
            missing,
        )

    # Pairs the plain value leaves out.

    def left_out(self) -> List[Problem]:
        found = []
        for why, span, first_line, pairs in self._document._left_out():
            place = Located("key", span, None, 0, None, pairs)
            key, name = pairs[-1]
            if why == "name_again":
                message = f"`{_segment(key, name)}` is given twice (first on line {first_line})"
                keyword = "duplicate"
            else:
                message = (
                    f"`{key}` is given both with a name and without {_within(pairs[:-1])} "
                    f"(first on line {first_line}); only the first form counts"
                )
                keyword = "form"
            found.append(self.problem(message, place, keyword, ()))
        return found

    # The validator's errors.

    def explain(self, errors: Sequence[Any]) -> List[Problem]:
        errors = self._chosen(errors)
        problems: List[Problem] = []
        explained_missing = self._misspelt(errors)
        for error in errors:
            kind = kind_of(error)
            if kind == "Required" and (tuple(error.instance_path), error.kind.property) in explained_missing:
                continue
            problems.extend(self._explain(error, kind))
        return problems

    def _chosen(self, errors: Sequence[Any]) -> List[Any]:
        """The errors, each anyOf or oneOf that none of its branches passed replaced by
        the errors of the branch that came nearest (or by one error of its own, kept,
        when every branch wants another type or value there)."""
        chosen: List[Any] = []
        for error in errors:
            if kind_of(error) in ("AnyOf", "OneOfNotValid"):
                branch = _nearest(error)
                if branch is not None:
                    chosen.extend(self._chosen(branch))
                    continue
            chosen.append(error)
        return chosen

    def _misspelt(self, errors: Sequence[Any]) -> Dict[Tuple[Tuple[Step, ...], str], str]:
        """Required keys that a key not allowed beside them misspells, and that key: the
        key not allowed is then the one problem, suggesting the required one."""
        self._missing = {
            (tuple(e.instance_path), e.kind.property)
            for e in errors
            if kind_of(e) == "Required" and "dependentRequired" not in e.schema_path
        }
        found: Dict[Tuple[Tuple[Step, ...], str], str] = {}
        for error in errors:
            if kind_of(error) in ("AdditionalProperties", "UnevaluatedProperties"):
                path = tuple(error.instance_path)
                for key in error.kind.unexpected:
                    suggestion = self._suggested_key(path, key)
                    if suggestion is not None and (path, suggestion) in self._missing:
                        found[path, suggestion] = key
        return found

    def _suggested_key(self, path: Tuple[Step, ...], key: str) -> Optional[str]:
        """The key meant where `key` is not allowed: the closest of the required keys
        missing there, else of the keys allowed there and not given."""
        missing = [name for where, name in self._missing if where == path]
        present = _value_at(self._data, path)
        allowed = [
            name
            for name in self._schema.place(path).keys()
            if not isinstance(present, dict) or name not in present
        ]
        return wording.closest(key, sorted(missing)) or wording.closest(key, allowed)

    def _explain(self, error: Any, kind: str) -> List[Problem]:
        path = list(error.instance_path)
        keyword = _keyword(error)
        if kind in ("AdditionalProperties", "UnevaluatedProperties"):
            return [self._not_allowed(path, key, keyword) for key in error.kind.unexpected]
        if kind == "FalseSchema" and keyword in ("additionalProperties", "unevaluatedProperties"):
            # Said of the whole object when the schema names no key: every key it has.
            present = _value_at(self._data, path)
            named = self._schema.place(path).keys()
            unexpected = [key for key in present if key not in named] if isinstance(present, dict) else []
            return [self._not_allowed(path, key, keyword) for key in unexpected]
        if kind == "PropertyNames":
            return self._bad_name(path, error, keyword)
        place = self.place(path)
        if place is None:  # no way back to the text: say it at the top
            return [self.at_top(f"`/{'/'.join(map(str, path))}`: {error.message}", keyword)]
        if kind == "Required":
            return [self._lacks(path, place, error, keyword)]
        if kind == "FalseSchema" and path and place.what != "document":
            return [self._not_allowed(path[:-1], path[-1], keyword)]
        if kind == "UniqueItems":
            return [self._repeated_item(path, place, keyword)]
        if place.what == "repeated" and "array" not in self._schema.place(path).accepts:
            key = place.pairs[-1][0]
            first = place.first[0] if place.first else 0
            message = f"`{key}` is given {wording.times(place.count)} (first on line {first})"
            return [self.problem(message, place, keyword, path)]
        message, suggestion = self._message(error, kind, place, path)
        return [self.problem(message, place, keyword, path, suggestion)]

    def _not_allowed(self, path: List[Step], key: Step, keyword: str) -> Problem:
        place = self.place(path + [key], as_key=isinstance(key, str))
        container = self.place(path)
        if place is None or container is None:
            return self.at_top(f"`{key}` is not allowed", keyword)
        suggestion = self._suggested_key(tuple(path), key) if isinstance(key, str) else None
        if place.what == "name":
            message = f"`{key}` is not an allowed name for `{container.pairs[-1][0]}`"
        elif isinstance(key, int):
            message = f"item {key + 1} of {self._subject(path, container)} is not allowed"
        else:
            message = f"`{key}` is not allowed {_within(container.pairs, container.what)}"
        if suggestion is not None:
            message += f"; did you mean `{suggestion}`?"
        return self.problem(message, place, keyword, path + [key], suggestion)

    def _repeated_item(self, path: List[Step], place: Located, keyword: str) -> Problem:
        """At the first item that repeats an earlier one."""
        items = _value_at(self._data, path)
        seen: Dict[str, int] = {}
        for index, item in enumerate(items if isinstance(items, list) else []):
            text = json.dumps(item, sort_keys=True)
            if text in seen:
                at = self.place(path + [index])
                if at is not None:
                    message = f"item {index + 1} of {self._subject(path, place)} repeats item {seen[text] + 1}"
                    return self.problem(message, at, keyword, path + [index])
            seen.setdefault(text, index)
        return self.problem(f"{self._subject(path, place)} holds the same item twice", place, keyword, path)

    def _bad_name(self, path: List[Step], error: Any, keyword: str) -> List[Problem]:
        inner = error.kind.error
        name = inner.instance
        place = self.place(path + [name], as_key=True) if isinstance(name, str) else None
        container = self.place(path)
        if place is None or container is None:
            return [self.at_top(error.message, keyword)]
        reason, _ = self._message(inner, kind_of(inner), place, path + [name], subject="it", show_found=False)
        what = "name" if place.what == "name" else "key"
        where = f"for `{container.pairs[-1][0]}`" if what == "name" else _within(container.pairs, container.what)
        message = f"`{name}` is not a valid {what} {where}: {reason}"
        return [self.problem(message, place, _keyword(inner), path + [name])]

    def _lacks(self, path: List[Step], place: Located, error: Any, keyword: str) -> Problem:
        key = error.kind.property
        subject = "the document" if place.what == "document" else self._subject(path, place)
        message = f"{subject} lacks `{key}`"
        if "dependentRequired" in error.schema_path or "dependencies" in error.schema_path:
            message += ", which another key there needs"
        return self.problem(message, place, keyword, path, missing=key)

    def _message(
        self,
        error: Any,
        kind: str,
        place: Located,
        path: List[Step],
        subject: Optional[str] = None,
        show_found: bool = True,
    ) -> Tuple[str, Optional[str]]:
        """The sentence for an error of a value, and the value to suggest instead."""
        what = subject or self._subject(path, place)
        found = f" (found {self._found(error.instance, place)})" if show_found else ""
        k = error.kind
        if kind == "Type":
            return f"{what} must be {wording.types(k.types)}{found}", None
        if kind == "Enum":
            suggestion = None
            if isinstance(error.instance, str):
                suggestion = wording.closest(error.instance, [o for o in k.options if isinstance(o, str)])
            return f"{what} must be one of {wording.values(k.options)}{found}", suggestion
        if kind == "Constant":
            return f"{what} must be {wording.values([k.expected_value])}{found}", None
        if kind == "Pattern":
            return f"{what} must match `{k.pattern}`{found}", None
        if kind == "Format":
            return f"{what} must be a valid {k.format}{found}", None
        limits = {
            "Minimum": "at least {}",
            "Maximum": "at most {}",
            "ExclusiveMinimum": "greater than {}",
            "ExclusiveMaximum": "less than {}",
            "MultipleOf": "a multiple of {}",
        }
        if kind in limits:
            limit = k.multiple_of if kind == "MultipleOf" else k.limit
            return f"{what} must be {limits[kind].format(_number(limit))}{found}", None
        sizes = {
            "MinLength": ("at least", "character"),
            "MaxLength": ("at most", "character"),
            "MinItems": ("at least", "item"),
            "MaxItems": ("at most", "item"),
            "MinProperties": ("at least", "key"),
            "MaxProperties": ("at most", "key"),
        }
        if kind in sizes:
            bound, unit = sizes[kind]
            plural = "" if k.limit == 1 else "s"
            verb = "be" if unit == "character" else "have"
            long = " long" if unit == "character" else ""
            return f"{what} must {verb} {bound} {k.limit} {unit}{plural}{long}{found}", None
        if kind == "Contains":
            return f"{what} must hold an item that the schema allows there{found}", None
        if kind == "Not":
            return f"{what} must not be as it is{found}", None
        if kind == "OneOfMultipleValid":
            return f"{what} fits more than one of its allowed forms; it must fit one", None
        if kind in ("AnyOf", "OneOfNotValid"):
            return f"{what} must be {self._either(error)}{found}", self._either_suggestion(error)
        if kind == "FalseSchema":
            return f"{what} is not allowed", None
        return f"{what}: {error.message}", None

    def _either(self, error: Any) -> str:
        """Every branch wants another type or another value: what they want together."""
        branches = error.kind.context
        wanted = [t for branch in branches for e in branch if kind_of(e) == "Type" for t in e.kind.types]
        options = _options(branches)
        parts = [wording.types(wanted)] if wanted else []
        if options:
            parts.append(f"one of {wording.values(options)}")
        return " or ".join(parts)

    def _either_suggestion(self, error: Any) -> Optional[str]:
        if not isinstance(error.instance, str):
            return None
        options = [o for o in _options(error.kind.context) if isinstance(o, str)]
        return wording.closest(error.instance, options)

    def _subject(self, path: Sequence[Step], place: Located) -> str:
        """What the message is about: `key`, `view:users`, item 2 of `filters`."""
        if place.what == "document":
            return "the document"
        if place.what in ("block", "names", "key", "name", "repeated") and place.pairs:
            key, name = place.pairs[-1]
            return f"`{_segment(key, name if place.what == 'block' else None)}`"
        keys = [step for step in path if isinstance(step, str)]
        if path and isinstance(path[-1], int) and self._is_item(path):
            return f"item {path[-1] + 1} of `{keys[-1] if keys else ''}`"
        if keys:
            return f"`{keys[-1]}`"
        return f"`{place.pairs[-1][0]}`" if place.pairs else "the document"

    def _is_item(self, path: Sequence[Step]) -> bool:
        """Whether the last step of a path is an item of a list in the text (not the list
        of one that a key's single value is wrapped in for the schema)."""
        container = self.place(list(path[:-1]))
        return container is not None and container.kind == "list"

    def _found(self, instance: Any, place: Located) -> str:
        if place.what == "repeated":
            return f"`{place.pairs[-1][0]}` given {wording.times(place.count)}"
        if isinstance(instance, str):
            return wording.quoted(instance)
        if isinstance(instance, (bool, int, float)):
            start, end = place.span[2], place.span[5]
            return wording.quoted(self.text()[start:end].decode("utf-8", "replace"))
        if isinstance(instance, dict):
            return "named blocks" if place.what == "names" else "a list of pairs" if place.kind == "list" else "a block"
        if isinstance(instance, list):
            return "a list"
        return "null"


def _nearest(error: Any) -> Optional[List[Any]]:
    """The errors of the branch of an anyOf or oneOf that came nearest, or None when every
    branch wants another type or another value right there."""
    path = list(error.instance_path)
    branches = [list(branch) for branch in error.kind.context if branch]
    if not branches:
        return None

    def wants_other(branch: List[Any]) -> bool:
        return any(
            kind_of(e) in ("Type", "Enum", "Constant") and list(e.instance_path) == path
            for e in branch
        )

    fitting = [branch for branch in branches if not wants_other(branch)]
    if not fitting:
        return None
    return min(
        fitting,
        key=lambda branch: (-max(len(e.instance_path) for e in branch), len(branch)),
    )


def _options(branches: Sequence[Sequence[Any]]) -> List[Any]:
    options: List[Any] = []
    for branch in branches:
        for e in branch:
            kind = kind_of(e)
            listed = e.kind.options if kind == "Enum" else [e.kind.expected_value] if kind == "Constant" else []
            options.extend(o for o in listed if o not in options)
    return options


def _number(value: Any) -> str:
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def _segment(key: str, name: Optional[str]) -> str:
    return escape(key) + ("" if name is None else ":" + escape(name))


def _selector(pairs: Segments) -> str:
    return "/".join(_segment(key, name) for key, name in pairs) or "/"


def _within(pairs: Segments, what: str = "block") -> str:
    if not pairs or what == "document":
        return "at the top level"
    key, name = pairs[-1]
    return f"in `{_segment(key, name if what == 'block' else None)}`"


def _value_at(data: Any, path: Sequence[Step]) -> Any:
    for step in path:
        if isinstance(data, dict) and isinstance(step, str):
            data = data.get(step)
        elif isinstance(data, list) and isinstance(step, int) and step < len(data):
            data = data[step]
        else:
            return None
    return data
