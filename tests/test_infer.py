"""Schema inference: documents satisfy the schema inferred from them, and a misspelt key
is the one problem found."""

import json

from hypothesis import assume, given, strategies as st

from tallix_cst import Document, Schema, parse_quarel
from tallix_cst.schema.infer import dumps, infer

WORDS = ["number", "string", "yesno", "yes", "no", "true", "7", "-2", "1.5e3", "x1", "a.b", "1e400"]
KEYS = ["type", "label", "hidden", "size", "tags", "sql", "z"]
BLOCKS = ["view", "dimension", "measure", "link"]
NAMES = ["a", "b", "c", "users"]


@st.composite
def pair_text(draw, depth):
    key = draw(st.sampled_from(KEYS + (BLOCKS if depth < 3 else [])))
    if key == "sql":
        return "sql: " + draw(st.sampled_from(["x", "${TABLE}.id", "a + 1"])) + " ;;"
    if key in BLOCKS:
        # `link` blocks have no name, the others one: a key with names in some blocks and
        # none in others shares one dict of names and keys, where a misspelt key is a name.
        name = "" if key == "link" else draw(st.sampled_from(NAMES))
        inner = draw(st.lists(pair_text(depth + 1), max_size=4))
        return f"{key}: {name} {{ {' '.join(inner)} }}".replace(":  {", ": {")
    value = draw(st.one_of(
        st.sampled_from(WORDS),
        st.sampled_from(['"quoted text"', '"7"', '""']),
        st.lists(st.sampled_from(WORDS + ["k: v", "k: 1"]), max_size=3).map(lambda items: f"[{', '.join(items)}]"),
    ))
    return f"{key}: {value}"


documents = st.lists(pair_text(0), max_size=6).map("\n".join).map(parse_quarel)


def without_left_outs(docs):
    # Pairs the language itself refuses (a name given twice, a key with and without a
    # name) are problems whatever the schema.
    assume(all(not doc._left_out() for doc in docs))
    return docs


@given(st.lists(documents, min_size=1, max_size=3))
def test_documents_satisfy_their_schema(docs):
    docs = without_left_outs(docs)
    schema = infer(docs)
    assert dumps(schema) == dumps(infer(docs))  # stable
    checked = Schema(json.loads(dumps(schema)))
    for doc in docs:
        assert doc.validate(checked) == []


def misspellings(key):
    letters = "abcdefghijklmnopqrstuvwxyz"
    for i in range(len(key) + 1):
        yield key[:i] + key[i + 1:]  # one deleted
        for c in letters:
            yield key[:i] + c + key[i:]  # one inserted
            yield key[:i] + c + key[i + 1:]  # one replaced
        yield key[:i] + key[i + 1:i + 2] + key[i:i + 1] + key[i + 2:]  # two swapped


@given(st.lists(documents, min_size=1, max_size=3), st.data())
def test_a_misspelt_key_is_the_one_problem(docs, data):
    docs = without_left_outs(docs)
    schema = Schema(infer(docs))
    doc = data.draw(st.sampled_from(docs))
    pairs = doc.walk()
    assume(pairs)
    pair = data.draw(st.sampled_from(pairs))
    parent = pair.parent
    container = [] if isinstance(parent, Document) else doc.path_at(parent.location.offset)
    taken = set(schema.place(container).keys()) | {p.key for p in parent}
    choices = [k for k in misspellings(pair.key) if k and k not in taken and k != pair.key]
    assume(choices)
    new = data.draw(st.sampled_from(sorted(set(choices))))
    try:
        pair.key = new
    except ValueError:  # an expression key and a key of other values do not trade places
        assume(False)
    (problem,) = doc.validate(schema)
    at = pair.location
    assert (problem.location.line, problem.location.column, problem.location.end_offset) == (
        at.line, at.column, at.offset + len(new.encode()))
    assert problem.message.startswith(f"`{new}` is not allowed")


def test_the_inferred_schema_of_the_examples():
    docs = [parse_quarel(text) for text in (
        "view: a { dimension: id { type: number hidden: yes } dimension: n { type: string size: 2 } }",
        "view: b { label: \"B\" dimension: id { type: number } dimension: x { type: string tags: [p, q] } }",
    )]
    assert json.loads(dumps(infer(docs))) == {
        "$schema": "https://json-schema.org/draft/2020-12/schema",
        "type": "object",
        "properties": {"view": {"type": "object", "additionalProperties": {
            "type": "object",
            "properties": {
                "dimension": {"type": "object", "additionalProperties": {
                    "type": "object",
                    "properties": {
                        "type": {"type": "string", "enum": ["number", "string"]},
                        "hidden": {"type": "boolean"},
                        "size": {"type": "integer"},
                        "tags": {"type": "array", "items": {"type": "string"}},
                    },
                    "required": ["type"],
                    "additionalProperties": False,
                }},
                "label": {"type": "string"},
            },
            "required": ["dimension"],
            "additionalProperties": False,
        }}},
        "required": ["view"],
        "additionalProperties": False,
    }
