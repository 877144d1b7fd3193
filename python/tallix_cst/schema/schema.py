"""`Schema`: a JSON Schema, read and checked once, ready to check documents against."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Optional, Sequence, Union

from tallix_cst.schema.places import Place, Places, Step
from tallix_cst.schema.problems import Problem, find_problems
from tallix_cst.schema.refs import (
    NO_BASE,
    Documents,
    Json,
    SchemaError,
    check_cycles,
    file_uri,
    read_json,
)

if TYPE_CHECKING:
    from tallix_cst._native import Document

# The validator's class for each draft's `$schema` (without a trailing `#`); a schema
# without one is 2020-12's.
DRAFTS: Dict[str, str] = {
    "https://json-schema.org/draft/2020-12/schema": "Draft202012Validator",
    "https://json-schema.org/draft/2019-09/schema": "Draft201909Validator",
    "http://json-schema.org/draft-07/schema": "Draft7Validator",
    "http://json-schema.org/draft-06/schema": "Draft6Validator",
    "http://json-schema.org/draft-04/schema": "Draft4Validator",
}
LATEST = "https://json-schema.org/draft/2020-12/schema"


class Schema:
    """A JSON Schema to check documents against: draft 2020-12 unless its `$schema` names
    2019-09, 7, 6 or 4. Relative `$ref`s name files beside `base`, the schema's own file
    (`Schema.load` sets it); nothing is ever fetched from the network. SchemaError, one
    line naming the file, for a schema that is not valid or whose references do not
    resolve."""

    def __init__(
        self, schema: Union[Mapping[str, Json], bool], base: Union[str, "os.PathLike[str]", None] = None
    ) -> None:
        self.path: Optional[str] = None if base is None else os.fspath(base)
        self.data: Json = dict(schema) if isinstance(schema, Mapping) else schema
        self._name = self.path if self.path is not None else "schema"
        if not isinstance(self.data, (dict, bool)):
            raise SchemaError(f"{self._name}: not a valid schema: a schema is an object or a boolean")
        base_uri = NO_BASE if self.path is None else file_uri(self.path)
        self._documents = Documents(self.data, base_uri)
        self.draft = self._draft()
        self._validator = self._validator_of(base_uri)
        try:
            check_cycles(self._documents)
            #: Every place of the schema, as unwrap() and an editor ask for them.
            self.places = Places(self._documents)
        except SchemaError as e:
            raise SchemaError(f"{self._name}: {e}") from None
        except RecursionError:
            raise SchemaError(f"{self._name}: nested too deeply to read") from None

    @classmethod
    def load(cls, path: Union[str, "os.PathLike[str]"]) -> Schema:
        """The schema in a JSON file."""
        return cls(read_json(path), path)

    def place(self, path: Sequence[Step] = ()) -> Place:
        """What the schema says of the place at a path of keys and indexes into a
        document's `unwrap()` value (see `Document.path_at`)."""
        return self.places.root.at(path)

    def is_valid(self, data: Json) -> bool:
        return bool(self._validator.is_valid(data))

    def errors(self, data: Json) -> List[Any]:
        """The validator's errors of plain data, in its order."""
        return list(self._validator.iter_errors(data))

    def problems(self, document: Document) -> List[Problem]:
        """The document's problems against the schema, in position order (what
        `Document.validate(schema)` returns)."""
        return find_problems(self, document)

    def __repr__(self) -> str:
        return f"<Schema {self._name}>"

    def _draft(self) -> str:
        declared = self.data.get("$schema", LATEST) if isinstance(self.data, dict) else LATEST
        known = declared.rstrip("#") if isinstance(declared, str) else None
        if known not in DRAFTS:
            raise SchemaError(
                f"{self._name}: `$schema` {declared} is not a draft this tool knows "
                "(2020-12, 2019-09, 7, 6 or 4)"
            )
        return known

    def _validator_of(self, base_uri: str) -> Any:
        # Loaded with the first schema: it takes longer to import than the rest of
        # the package, which most commands use without a schema.
        import jsonschema_rs

        failures: List[SchemaError] = []

        def retrieve(uri: str) -> Json:
            try:
                return self._documents.retrieve(uri)
            except SchemaError as e:
                failures.append(e)
                raise

        try:
            return getattr(jsonschema_rs, DRAFTS[self.draft])(
                self.data,
                retriever=retrieve,
                base_uri=None if base_uri == NO_BASE else base_uri,
                validate_formats=True,
            )
        except jsonschema_rs.ValidationError as e:
            if failures:
                raise SchemaError(f"{self._name}: {failures[0]}") from None
            where = "/".join(str(step) for step in e.instance_path)
            at = f" at `/{where}`" if e.instance_path else ""
            raise SchemaError(f"{self._name}: not a valid schema{at}: {_first_line(e)}") from None
        except ValueError as e:  # the validator's own limit of nesting
            raise SchemaError(f"{self._name}: not a valid schema: {e}") from None


def _first_line(error: Exception) -> str:
    return (getattr(error, "message", None) or str(error)).splitlines()[0]
