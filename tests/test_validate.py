"""Document.validate: each problem where a person would fix it, worded by hand here."""

import json

import pytest
from conftest import write

from tallix_cst import Location, Schema, SchemaError, parse_quarel
from tallix_cst.schema.places import placeholder

FIELD = {
    "type": "object",
    "required": ["type"],
    "additionalProperties": False,
    "properties": {
        "type": {"enum": ["number", "string", "yesno", "count", "sum"]},
        "sql": {"type": "string"},
        "label": {"type": "string"},
        "hidden": {"type": "boolean"},
        "size": {"type": "integer", "minimum": 1, "maximum": 10},
        "drill_fields": {"type": "array", "items": {"type": "string"}, "uniqueItems": True, "maxItems": 3},
        "filters": {"type": "object", "additionalProperties": {"type": "string", "pattern": "^[a-z]+$"}},
        "tags": {"type": "array", "items": {"type": "string"}},
    },
}
VIEWS = Schema({
    "type": "object",
    "additionalProperties": False,
    "required": ["view"],
    "properties": {"view": {"additionalProperties": {"$ref": "#/$defs/view"}, "propertyNames": {"pattern": "^[a-z_]+$"}}},
    "$defs": {
        "field": FIELD,
        "view": {
            "type": "object",
            "additionalProperties": False,
            "required": ["sql_table_name"],
            "properties": {
                "sql_table_name": {"type": "string"},
                "label": {"type": "string", "minLength": 2},
                "link": {"anyOf": [{"type": "string"}, {"type": "object", "required": ["url"], "additionalProperties": False,
                                                         "properties": {"url": {"type": "string"}, "icon": {"type": "string"}}}]},
                "color": {"oneOf": [{"const": "red"}, {"const": "green"}]},
                "dimension": {"additionalProperties": {"$ref": "#/$defs/field"}},
                "measure": {"additionalProperties": {"$ref": "#/$defs/field"}},
            },
        },
    },
})


def problems(source, schema=VIEWS):
    doc = parse_quarel(source)
    found = doc.validate(schema)
    text = doc.to_bytes()
    for p in found:  # each location agrees with the text it stands in
        start = 3 if text.startswith(b"\xef\xbb\xbf") else 0
        assert p.location.line == text.count(b"\n", 0, p.location.offset) + 1
        assert p.location.column == p.location.offset - max(text.rfind(b"\n", 0, p.location.offset) + 1, start) + 1
        assert p.location.end_offset >= p.location.offset
    return [(p.location.line, p.location.column, p.message) for p in found]


def view(body):
    """A view with its table, the body's lines below it from line 3."""
    return "view: users {\n  sql_table_name: t ;;\n" + body + "}\n"


@pytest.mark.parametrize("body, expected", [
    ("", []),
    ("  dimension: id { type: numbr }\n", [(3, 25, "`type` must be one of `number`, `string`, `yesno`, `count` or `sum` (found `numbr`)")]),
    ("  dimension: id { type: number hidden: maybe }\n", [(3, 40, "`hidden` must be yes or no (found `maybe`)")]),
    ('  dimension: id { type: number hidden: "yes" }\n', [(3, 40, "`hidden` must be yes or no (found `yes`)")]),
    ("  dimension: id { type: number size: 0 }\n", [(3, 38, "`size` must be at least 1 (found `0`)")]),
    ("  dimension: id { type: number size: 1.5e3 }\n", [(3, 38, "`size` must be at most 10 (found `1.5e3`)")]),
    ("  dimension: id { type: number size: big }\n", [(3, 38, "`size` must be a whole number (found `big`)")]),
    ("  dimension: id { type: number size: { } }\n", [(3, 32, "`size` must be a whole number (found a block)")]),
    ("  dimension: id { type: number size: [1] }\n", [(3, 38, "`size` must be a whole number (found a list)")]),
    ("  dimension: id { type: number\n    type: string }\n", [(4, 5, "`type` is given twice (first on line 3)")]),
    ("  dimension: id { type: number tags: a tags: b }\n", []),
    ("  dimension: id { type: number tags: a }\n", []),
    ("  dimension: id { type: number tags: [a, [b]] }\n", [(3, 42, "item 2 of `tags` must be a string (found a list)")]),
    ("  dimension: id { type: number drill_fields: [a, b, a] }\n", [(3, 53, "item 3 of `drill_fields` repeats item 1")]),
    ("  dimension: id { type: number drill_fields: [a, b, c, d] }\n", [(3, 46, "`drill_fields` must have at most 3 items (found a list)")]),
    ("  dimension: id { type: number filters: [status: Open] }\n", [(3, 50, "`status` must match `^[a-z]+$` (found `Open`)")]),
    ("  dimension: id { sql: x ;; }\n", [(3, 3, "`dimension:id` lacks `type`")]),
    ("  dimension: id { typ: number }\n", [(3, 19, "`typ` is not allowed in `dimension:id`; did you mean `type`?")]),
    ("  dimension: id { type: sum lable: x }\n", [(3, 29, "`lable` is not allowed in `dimension:id`; did you mean `label`?")]),
    ("  dimension: id { type: sum zzz: x }\n", [(3, 29, "`zzz` is not allowed in `dimension:id`")]),
    ("  sql_tabel_name: x ;;\n", [(3, 3, "`sql_tabel_name` is not allowed in `view:users`")]),
    ("  label: x\n", [(3, 10, "`label` must be at least 2 characters long (found `x`)")]),
    ("  link: http\n", []),
    ("  link: { url: x }\n", []),
    ('  link: { urll: "x" }\n', [(3, 11, "`urll` is not allowed in `link`; did you mean `url`?")]),
    ("  link: { url: x icon: [a] }\n", [(3, 24, "`icon` must be a string (found a list)")]),
    ("  link: [a]\n", [(3, 9, "`link` must be a string or a block (found a list)")]),
    ("  color: red\n", []),
    ("  color: blue\n", [(3, 10, "`color` must be one of `red` or `green` (found `blue`)")]),
    ("  dimension: 5\n  dimension: id { type: sum }\n",
     [(4, 3, "`dimension` is given both with a name and without in `view:users` (first on line 3); only the first form counts")]),
    ("  dimension: id { type: sum }\n  dimension: 5\n",
     [(4, 3, "`dimension` is given both with a name and without in `view:users` (first on line 3); only the first form counts")]),
    ("  dimension: id { type: sum }\n  dimension: id { type: count }\n", [(4, 3, "`dimension:id` is given twice (first on line 3)")]),
])
def test_problems_in_a_view(body, expected):
    assert problems(view(body)) == expected


@pytest.mark.parametrize("source, expected", [
    ("", [(1, 1, "the document lacks `view`")]),
    ("# views\nexplore: x {}\n", [(1, 1, "the document lacks `view`"), (2, 1, "`explore` is not allowed at the top level")]),
    ("view: users {\n}\n", [(1, 1, "`view:users` lacks `sql_table_name`")]),
    ("view: Users { sql_table_name: x ;; }", [(1, 7, "`Users` is not a valid name for `view`: it must match `^[a-z_]+$`")]),
    # An unnamed block stands where the names of the views are.
    ("view: { sql_table_name: x ;; }", [(1, 25, "`sql_table_name` must be a block (found `x`)")]),
    ("\ufeffveiw: x { }".encode(), [(1, 1, "`veiw` is not allowed at the top level; did you mean `view`?")]),
    ('view: "a b" { sql_table_name: x ;; }', None),
])
def test_problems_at_the_top(source, expected):
    if expected is None:
        with pytest.raises(ValueError):
            parse_quarel(source)
        return
    assert problems(source) == expected


@pytest.mark.parametrize("source, selector, keyword, path, suggestion, missing", [
    (view("  dimension: id { type: numbr }\n"), "view:users/dimension:id/type", "enum",
     ("view", "users", "dimension", "id", "type"), "number", None),
    (view("  dimension: id { sql: x ;; }\n"), "view:users/dimension:id", "required",
     ("view", "users", "dimension", "id"), None, "type"),
    (view("  dimension: id { typ: sum }\n"), "view:users/dimension:id/typ", "additionalProperties",
     ("view", "users", "dimension", "id", "typ"), "type", None),
    (view("  dimension: id { type: sum }\n  dimension: id { type: sum }\n"), "view:users/dimension:id", "duplicate",
     (), None, None),
    ("", "/", "required", (), None, "view"),
])
def test_problem_fields(source, selector, keyword, path, suggestion, missing):
    (problem,) = parse_quarel(source).validate(VIEWS)
    assert isinstance(problem.location, Location)
    assert (problem.selector, problem.keyword, problem.path, problem.suggestion, problem.missing, problem.severity) == (
        selector, keyword, path, suggestion, missing, "error")


@pytest.mark.parametrize("source, schema, expected", [
    # Keys that JSON Pointer must escape, and non-ASCII ones.
    ("a/b~c: x", {"properties": {"a/b~c": {"type": "integer"}}}, [(1, 8, "`a/b~c` must be a whole number (found `x`)", "a\\/b~c")]),
    ("é: x", {"additionalProperties": False}, [(1, 1, "`é` is not allowed at the top level", "é")]),
    ("v: é { }", {"properties": {"v": {"propertyNames": {"maxLength": 0}}}},
     [(1, 4, "`é` is not a valid name for `v`: it must be at most 0 characters long", "v:é")]),
    ("v: 1", {"required": ["a b"]}, [(1, 1, "the document lacks `a b`", "/")]),
    # A schema that allows nothing.
    ("v: 1", False, [(1, 1, "the document is not allowed", "/")]),
    ("v: 1", {"properties": {"v": False}}, [(1, 1, "`v` is not allowed at the top level", "v")]),
    # anyOf: the branch that came nearest explains.
    ("v: { a: 1 b: x }", {"properties": {"v": {"anyOf": [
        {"type": "object", "properties": {"a": {"type": "integer"}, "b": {"type": "integer"}}},
        {"type": "object", "properties": {"a": {"type": "integer"}, "c": {"type": "integer"}}, "required": ["c"]}]}}},
     [(1, 14, "`b` must be a whole number (found `x`)", "v/b")]),
    ("v: x", {"properties": {"v": {"anyOf": [{"type": "integer"}, {"enum": ["a", "b"]}]}}},
     [(1, 4, "`v` must be a whole number or one of `a` or `b` (found `x`)", "v")]),
    ("v: 5", {"properties": {"v": {"oneOf": [{"type": "integer"}, {"type": "number", "minimum": 0}]}}},
     [(1, 4, "`v` fits more than one of its allowed forms; it must fit one", "v")]),
    ("v: 5 w: 1", {"dependentRequired": {"v": ["u"]}},
     [(1, 1, "the document lacks `u`, which another key there needs", "/")]),
    ("v: [a, b]", {"properties": {"v": {"contains": {"const": "c"}}}},
     [(1, 4, "`v` must hold an item that the schema allows there (found a list)", "v")]),
    ("d: 2024-13-01", {"properties": {"d": {"format": "date"}}}, [(1, 4, "`d` must be a valid date (found `2024-13-01`)", "d")]),
    ("n: 3", {"$schema": "http://json-schema.org/draft-04/schema#",
              "properties": {"n": {"type": "integer", "maximum": 3, "exclusiveMaximum": True}}},
     [(1, 4, "`n` must be less than 3 (found `3`)", "n")]),
    # A schema that refers to itself checks a tree of any depth.
    ("child: { child: { child: { n: x } } }", {"$ref": "#/$defs/node", "$defs": {"node": {
        "type": "object", "additionalProperties": False,
        "properties": {"n": {"type": "integer"}, "child": {"$ref": "#/$defs/node"}}}}},
     [(1, 31, "`n` must be a whole number (found `x`)", "child/child/child/n")]),
])
def test_problems_of_schema_features(source, schema, expected):
    found = parse_quarel(source).validate(Schema(schema))
    assert [(p.location.line, p.location.column, p.message, p.selector) for p in found] == expected


# A `$ref` names a file beside the schema's, also under the folder of the schema's own `$id`.
@pytest.mark.parametrize("own", [{}, {"$id": "https://example.com/s/main.json"}])
def test_refs_to_files_beside_the_schema(tmp_path, own):
    write(tmp_path / "schemas/fields.json", json.dumps({"$defs": {"n": {"type": "integer"}}}))
    main = {**own, "properties": {"n": {"$ref": "fields.json#/$defs/n"}}}
    schema = Schema.load(write(tmp_path / "schemas/main.json", json.dumps(main)))
    assert parse_quarel("n: 5").unwrap(schema) == {"n": 5}
    assert [p.message for p in parse_quarel("n: x").validate(schema)] == ["`n` must be a whole number (found `x`)"]


@pytest.mark.parametrize("files, error", [
    ({"s.json": '{\n  "type": "object",\n  "properties": {,}\n}'}, "s.json:3:18: not valid JSON: Expecting property name enclosed in double quotes"),
    ({"s.json": "[1]"}, "s.json: not a valid schema: a schema is an object or a boolean"),
    ({"s.json": {"type": 5}}, "s.json: not a valid schema at `/type`: "),
    ({"s.json": {"minimum": "x"}}, "s.json: not a valid schema at `/minimum`: "),
    ({"s.json": {"$schema": "http://example.com/mine"}}, "s.json: `$schema` http://example.com/mine is not a draft this tool knows"),
    ({"s.json": {"$ref": "https://example.com/x.json"}}, "s.json: `$ref` https://example.com/x.json: a remote schema, which is never fetched"),
    ({"s.json": {"$ref": "missing.json"}}, "s.json: missing.json: No such file or directory"),
    ({"s.json": {"$ref": "sub"}, "sub/x": "{}"}, "s.json: sub: is a folder, not a schema file"),
    ({"s.json": {"$ref": "bad.json"}, "bad.json": "{"}, "s.json: bad.json:1:2: not valid JSON"),
    ({"s.json": {"$ref": "#/$defs/nowhere"}}, "s.json: "),
    ({"s.json": {"$ref": "#/$defs/a", "$defs": {"a": {"$ref": "#/$defs/b"}, "b": {"anyOf": [{"$ref": "#/$defs/a"}]}}}},
     "s.json: `$ref` cycle that never reaches a value: #/$defs/a → #/$defs/b → #/$defs/b/anyOf/0 → #/$defs/a"),
    ({"s.json": {"$ref": "#"}}, "s.json: `$ref` cycle that never reaches a value: # → #"),
])
def test_schemas_that_cannot_be_used(tmp_path, monkeypatch, files, error):
    monkeypatch.chdir(tmp_path)
    for name, content in files.items():
        write(tmp_path / name, content if isinstance(content, str) else json.dumps(content))
    with pytest.raises(SchemaError) as raised:
        Schema.load("s.json")
    message = str(raised.value)
    assert message.startswith(error) and "\n" not in message


@pytest.mark.parametrize("depth", [50, 2000])
def test_deep_and_huge_schemas(depth):
    deep = {}
    for _ in range(depth):
        deep = {"properties": {"a": deep}}
    try:
        schema = Schema(deep)
    except SchemaError as e:  # past what the validator reads
        assert str(e).startswith("schema: ") and "\n" not in str(e)
        return
    assert parse_quarel("a: { a: { a: 1 } }").validate(schema) == []
    huge = Schema({"properties": {f"k{i}": {"enum": list(range(20))} for i in range(20000)}, "additionalProperties": False})
    assert problems("k19999: 5 k2: x", huge) == [(1, 15, "`k2` must be one of `0`, `1`, `2`, `3`, `4`, `5`, `6`, `7` or 12 more (found `x`)")]


def test_a_document_nested_deeper_than_the_validator_reads():
    source = "".join(f"b: n{i} {{ " for i in range(120)) + "}" * 120
    found = parse_quarel(source).validate(Schema({"additionalProperties": {"additionalProperties": {"$ref": "#"}}}))
    assert found == [] or [(p.location.line, p.keyword) for p in found] == [(1, "depth")]


@pytest.mark.parametrize("path, accepts, keys, required, enum", [
    ([], {"object"}, ["view"], {"view"}, None),
    (["view", "any"], {"object"}, ["sql_table_name", "label", "link", "color", "dimension", "measure"], {"sql_table_name"}, None),
    (["view", "v", "dimension", "d", "type"], {"string"}, [], set(), ["number", "string", "yesno", "count", "sum"]),
    (["view", "v", "dimension", "d", "size"], {"integer"}, [], set(), None),
    (["view", "v", "dimension", "d", "tags", 3], {"string"}, [], set(), None),
    (["view", "v", "link"], {"string", "object"}, ["url", "icon"], set(), None),  # either branch
    (["view", "v", "color"], {"string"}, [], set(), ["red", "green"]),
    (["view", "v", "nothing"], set(), [], set(), None),  # additionalProperties: false
])
def test_what_the_schema_says_at_a_place(path, accepts, keys, required, enum):
    place = VIEWS.place(path)
    assert (set(place.accepts), list(place.keys()), set(place.required), place.enum) == (accepts, keys, required, enum)


def test_annotations_and_other_keys():
    schema = Schema({"properties": {"a": {"title": "A", "description": "The a.", "default": 1, "$ref": "#/$defs/b"}},
                     "patternProperties": {"^x": {"type": "integer"}},
                     "$defs": {"b": {"description": "Not this one.", "examples": [2]}}})
    a = schema.place(["a"])
    assert [a.annotation(k) for k in ("title", "description", "default", "examples", "deprecated")] == ["A", "The a.", 1, [2], None]
    assert schema.place().other_keys and not VIEWS.place(["view", "v"]).other_keys
    assert schema.place(["x1"]).accepts == {"integer"} and schema.place(["y"]).accepts == {
        "string", "integer", "number", "boolean", "array", "object"}


LINKS = Schema({"properties": {
    "links": {"type": "array", "items": {"type": "object", "properties": {"url": {"type": "string"}}}},
    "a": {"default": 3, "examples": [4], "enum": [5]}, "b": {"examples": ["x"], "enum": ["y", "x"]},
    "c": {"const": "k", "enum": ["k", "j"]}, "d": {"enum": ["e", "f"]}}})


# (schema, a path as Document.path_at gives it, the types of the value written there,
# what the place of that value accepts): a key's one value stands for a list of one where
# the schema takes a list but not that value.
@pytest.mark.parametrize("schema, path, types, accepts", [
    (VIEWS, ["view", "v", "dimension", "d", "tags"], ["string"], {"string"}),
    (VIEWS, ["view", "v", "dimension", "d", "tags"], ["array"], {"array"}),
    (VIEWS, ["view", "v", "dimension", "d", "tags"], [], {"array"}),
    (VIEWS, ["view", "v", "dimension", "d", "tags", 1], [], {"string"}),
    (VIEWS, ["view", "v", "link"], ["object"], {"string", "object"}),
    (LINKS, ["links", "url"], [], {"string"}),  # `links: { url: x }`, the block a list of one
    (LINKS, ["links", 1, "url"], [], {"string"}),
])
def test_places_of_values_as_the_text_writes_them(schema, path, types, accepts):
    assert set(schema.place().written(path, types).accepts) == accepts


@pytest.mark.parametrize("path, named", [
    (["view"], True), (["view", "v", "dimension"], True), (["view", "v"], False),
    (["view", "v", "dimension", "d", "filters"], False),  # a block of any keys, each a string
    (["view", "v", "dimension", "d", "type"], False),
])
def test_keys_that_take_named_blocks(path, named):
    assert VIEWS.place(path).named is named


# (schema, path, the value written for a key required there)
@pytest.mark.parametrize("schema, path, value", [
    (VIEWS, ["view", "v"], {"sql_table_name": ""}),
    (VIEWS, ["view", "v", "dimension", "d"], {"type": "number"}),
    (VIEWS, ["view", "v", "dimension", "d", "hidden"], False),
    (VIEWS, ["view", "v", "dimension", "d", "size"], 0),
    (VIEWS, ["view", "v", "dimension", "d", "tags"], []),
    (VIEWS, ["view", "v", "link"], ""),  # a string or a block: the string
    (VIEWS, ["view", "v", "dimension"], {}),  # named blocks: no name to invent
    (VIEWS, [], {}),  # its one required key takes named blocks
    (LINKS, ["a"], 3), (LINKS, ["b"], "x"), (LINKS, ["c"], "k"), (LINKS, ["d"], "e"),
    (Schema(False), [], ""),
])
def test_placeholders(schema, path, value):
    assert placeholder(schema.place(path)) == value
