"""The language server with a schema, end to end over stdio as an editor drives it, in
both position encodings: problems as you type, completion, hover and quick fixes, and the
schema files found, re-read and refused. Ranges and texts are written by hand here."""

from __future__ import annotations

import asyncio
import itertools
import json
import os
import re
import sys

import pytest

pytest_lsp = pytest.importorskip("pytest_lsp")

from lsprotocol import types  # noqa: E402
from pygls.uris import from_fs_path  # noqa: E402
from pytest_lsp import ClientServerConfig, LanguageClient  # noqa: E402

from conftest import write  # noqa: E402
from lsp_reference import apply_edits, position, span  # noqa: E402

in_server = pytest.mark.asyncio(loop_scope="module")
pytestmark = pytest.mark.timeout(120)
SERVER = [sys.executable, "-m", "tallix_cst", "lsp"]

FIELD = {
    "type": "object",
    "required": ["type"],
    "additionalProperties": False,
    "properties": {
        "type": {"enum": ["number", "string", "yesno"], "markdownDescription": "How the value **reads**.",
                 "default": "string"},
        "sql": {"type": "string"},
        "width": {"type": "integer", "examples": [12]},
        "primary_key": {"type": "boolean"},
    },
}
VIEWS = {
    "type": "object",
    "additionalProperties": False,
    "properties": {"view": {"description": "A view of a table.", "additionalProperties": {"$ref": "#/$defs/view"}}},
    "$defs": {
        "field": FIELD,
        "view": {
            "type": "object",
            "title": "View",
            "required": ["sql_table_name"],
            "additionalProperties": False,
            "properties": {
                "label": {"type": "string"},
                "sql_table_name": {"type": "string", "description": "The table it reads.", "examples": ["analytics.users"]},
                "hidden": {"type": "boolean", "default": False},
                "tags": {"type": "array", "items": {"enum": ["pii", "core data"]}},
                "link": {"type": "object", "required": ["url"], "additionalProperties": False,
                         "properties": {"url": {"type": "string"}, "icon": {"type": "string"}}},
                "dimension": {"description": "A column.", "additionalProperties": {"$ref": "#/$defs/field"}},
            },
        },
    },
}
CONFIG = '[[schema]]\npath = "schemas/views.json"\ninclude = ["views/**/*.quarel"]\n'
_names = (f"doc{n}.quarel" for n in itertools.count())


@pytest_lsp.fixture(scope="module", params=["utf-16", "utf-8"], config=ClientServerConfig(server_command=SERVER))
async def client(lsp_client: LanguageClient, request: pytest.FixtureRequest):
    root = request.getfixturevalue("tmp_path_factory").mktemp("project")
    write(root / "schemas" / "views.json", json.dumps(VIEWS))
    write(root / "quarel.toml", CONFIG)
    lsp_client.root = root
    lsp_client.encoding = request.param
    lsp_client.versions = {}
    shown = lsp_client.protocol.fm.features[types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS]

    def published(params):  # which version each document's diagnostics are of
        lsp_client.versions[params.uri] = params.version
        shown(params)

    lsp_client.protocol.fm.features[types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS] = published
    await lsp_client.initialize_session(types.InitializeParams(
        capabilities=types.ClientCapabilities(
            general=types.GeneralClientCapabilities(position_encodings=[request.param]),
            text_document=types.TextDocumentClientCapabilities(completion=types.CompletionClientCapabilities(
                completion_item=types.ClientCompletionItemOptions(snippet_support=True, documentation_format=[types.MarkupKind.Markdown]))),
            workspace=types.WorkspaceClientCapabilities(configuration=True)),
        workspace_folders=[types.WorkspaceFolder(uri=from_fs_path(str(root)), name="p")]))
    yield
    await lsp_client.shutdown_session()


async def until(check, what, seconds=10):
    for _ in range(int(seconds / 0.02)):
        if check():
            return
        await asyncio.sleep(0.02)
    raise AssertionError(f"no {what} after {seconds} s")


async def open_doc(client, text, folder="views"):
    path = client.root / folder / next(_names)
    uri = from_fs_path(str(path))
    client.text_document_did_open(types.DidOpenTextDocumentParams(
        text_document=types.TextDocumentItem(uri=uri, language_id="quarel", version=1, text=text)))
    await until(lambda: client.versions.get(uri) == 1, "diagnostics")
    return uri


async def replace(client, uri, version, text, start=None, end=None):
    """Sends a change (the whole text, or a range of it) and waits for its diagnostics."""
    if start is None:
        change = types.TextDocumentContentChangeWholeDocument(text=text)
    else:
        change = types.TextDocumentContentChangePartial(
            range=types.Range(start=types.Position(*start), end=types.Position(*(end or start))), text=text)
    client.text_document_did_change(types.DidChangeTextDocumentParams(
        text_document=types.VersionedTextDocumentIdentifier(uri=uri, version=version), content_changes=[change]))
    await until(lambda: client.versions.get(uri) == version, f"diagnostics of version {version}")


def shown(client, uri):
    """Each diagnostic as (line, character, end line, end character, code, message)."""
    return [(*span(d.range), d.code, d.message) for d in client.diagnostics[uri]]


def filled(snippet):
    """A snippet as the editor fills it in when every field keeps its default."""
    text = re.sub(r"\$\{\d+:((?:[^}\\]|\\.)*)\}", r"\1", snippet)
    return re.sub(r"\\(.)", r"\1", re.sub(r"\$\d+", "", text))


def view(body):
    return "view: users {\n  sql_table_name: t ;;\n" + body + "}\n"


# (body of the view, the problems: line, character, end line, end character, code, message)
DIAGNOSTICS = [
    (view("  dimension: id { type: numbr }\n"),
     [(2, 24, 2, 29, "enum", "`type` must be one of `number`, `string` or `yesno` (found `numbr`)")]),
    (view("  lable: x\n"), [(2, 2, 2, 7, "additionalProperties", "`lable` is not allowed in `view:users`; did you mean `label`?")]),
    ("view: users {\n  label: x\n}\n", [(0, 0, 0, 11, "required", "`view:users` lacks `sql_table_name`")]),
    (view("  hidden: maybe\n"), [(2, 10, 2, 15, "type", "`hidden` must be yes or no (found `maybe`)")]),
    (view("  hidden: yes\n  hidden: no\n"), [(3, 2, 3, 8, "type", "`hidden` is given twice (first on line 3)")]),
    ("viwe: users {}\n", [(0, 0, 0, 4, "additionalProperties", "`viwe` is not allowed at the top level; did you mean `view`?")]),
    (view("  dimension: id {}\n"), [(2, 2, 2, 15, "required", "`dimension:id` lacks `type`")]),
    ("view: users {\n", [(1, 0, 1, 0, None, "expected `}` or a `key:` pair")]),  # never parsed: syntax alone
]


@in_server
@pytest.mark.parametrize("text, expected", DIAGNOSTICS)
async def test_diagnostics(client, text, expected):
    uri = await open_doc(client, text)
    assert shown(client, uri) == expected
    assert all(d.source == "quarel" for d in client.diagnostics[uri])


@in_server
async def test_diagnostics_count_characters_in_the_encoding(client):
    uri = await open_doc(client, view('  label: "é😀" hidden: maybe\n'))
    start = {"utf-16": 23, "utf-8": 26}[client.encoding]
    assert [d[:4] for d in shown(client, uri)] == [(2, start, 2, start + 5)]


@in_server
async def test_problems_move_with_edits_while_the_text_does_not_parse(client):
    uri = await open_doc(client, view("  hidden: maybe\n"))
    problem = "`hidden` must be yes or no (found `maybe`)"
    assert shown(client, uri) == [(2, 10, 2, 15, "type", problem)]
    await replace(client, uri, 2, "oops\n", (0, 0))  # breaks the text: the problem moves down
    assert shown(client, uri) == [(0, 4, 0, 4, None, "expected `:` after key"), (3, 10, 3, 15, "type", problem)]
    await replace(client, uri, 3, "  label: x\n", (3, 0))  # a line above it, still broken
    assert shown(client, uri)[1:] == [(4, 10, 4, 15, "type", problem)]
    await replace(client, uri, 4, "mayb", (4, 10), (4, 15))  # its own text changed: left out
    assert shown(client, uri) == [(0, 4, 0, 4, None, "expected `:` after key")]
    await replace(client, uri, 5, "", (0, 0), (1, 0))  # parses again: checked again
    assert shown(client, uri) == [(3, 10, 3, 14, "type", "`hidden` must be yes or no (found `mayb`)")]


def cursor(text, encoding):
    """The text without its `|`, and the editor's position of the `|`."""
    index = text.index("|")
    return text[:index] + text[index + 1:], types.Position(*position(text, index, encoding))


async def completions(client, uri, where):
    """The completion items at a position, in the order the editor shows them."""
    found = await client.text_document_completion_async(types.CompletionParams(text_document=types.TextDocumentIdentifier(uri=uri), position=where))
    return sorted(found.items, key=lambda item: item.sort_text)


def accept(text, item, encoding):
    """The text once the editor has inserted an item, its fields left as they are: lines
    past the first indented as the line completed, where the item asks for it."""
    edit = item.text_edit
    new = edit.new_text
    if item.insert_text_mode == types.InsertTextMode.AdjustIndentation:
        line = text.split("\n")[edit.range.start.line]
        indent = line[: len(line) - len(line.lstrip(" \t"))]
        new = new.replace("\n", "\n" + indent)
    if item.insert_text_format == types.InsertTextFormat.Snippet:
        new = filled(new)
    return apply_edits(text, [types.TextEdit(range=edit.range, new_text=new)], encoding)


# (text with the cursor as `|`, the labels offered in order, the label accepted, the text
# it makes)
COMPLETION = [
    ("|", ["view"], "view", "view: name {\n  sql_table_name: analytics.users ;;\n}"),
    ("view: users {\n  |\n}\n", ["sql_table_name", "label", "hidden", "tags", "link", "dimension"],
     "sql_table_name", "view: users {\n  sql_table_name:  ;;\n}\n"),  # an expression, the cursor before ;;
    (view("  |\n"), ["label", "hidden", "tags", "link", "dimension"], "link",
     view('  link: {\n    url: ""\n  }\n')),
    (view("  dimen|\n"), ["label", "hidden", "tags", "link", "dimension"], "dimension",
     view("  dimension: name {\n    type: string\n  }\n")),
    (view("  dimension: id {\n    |\n  }\n"), ["type", "sql", "width", "primary_key"], "width",
     view("  dimension: id {\n    width: \n  }\n")),
    (view("  dimension: id { type: number | }\n"), ["sql", "width", "primary_key"], "sql",
     view("  dimension: id { type: number sql:  ;; }\n")),
    (view('  label: "😀" |\n'), ["hidden", "tags", "link", "dimension"], "hidden",
     view('  label: "😀" hidden: \n')),
    (view("  hidden: |\n"), ["yes", "no"], "yes", view("  hidden: yes\n")),
    (view("  hidden:|\n"), ["yes", "no"], "no", view("  hidden: no\n")),
    (view("  dimension: id { type: nu| }\n"), ["number", "string", "yesno"], "number",
     view("  dimension: id { type: number }\n")),
    (view("  tags: [pii, |]\n"), ["pii", '"core data"'], '"core data"', view('  tags: [pii, "core data"]\n')),
    (view("  tags: |\n"), ["pii", '"core data"'], "pii", view("  tags: pii\n")),  # a list of one
    (view("  dimension: id {\n    width: |\n  }\n"), ["12"], "12", view("  dimension: id {\n    width: 12\n  }\n")),
    (view("  sql_table_name: |\n"), ["analytics.users ;;"], None, None),
    (view("  sql_table_name: | ;;\n"), ["analytics.users"], None, None),
    (view("  dimension: id { type: number label: | }\n"), [], None, None),  # not allowed there
    ("view: users {}\nvi|", ["view"], None, None),  # the end of a text without a line break
    (view("  # hid|\n"), [], None, None),  # a comment
    (view('  label: "a, hid|"\n'), [], None, None),  # a string
    (view("  dimension: id { sql: a ;; }\n  link: |\n"), [], None, None),  # a block's place: no value
    (view('  label: "😀|"\n'), [], None, None),
]


@in_server
@pytest.mark.parametrize("text, labels, chosen, expected", COMPLETION)
async def test_completion(client, text, labels, chosen, expected):
    text, where = cursor(text, client.encoding)
    uri = await open_doc(client, text)
    items = await completions(client, uri, where)
    assert [item.label for item in items] == labels
    if chosen is not None:
        assert accept(text, next(item for item in items if item.label == chosen), client.encoding) == expected


@in_server
async def test_completion_tells_what_each_key_takes(client):
    text, where = cursor("view: users {\n  sql_table_name: t ;;\n  dimension: id {\n    |\n  }\n}\n", client.encoding)
    uri = await open_doc(client, text)
    assert [(i.label, i.detail, i.documentation and i.documentation.value) for i in await completions(client, uri, where)] == [
        ("type", "required, one of `number`, `string` or `yesno`", "How the value **reads**."),
        ("sql", "a string", None), ("width", "a whole number", None), ("primary_key", "yes or no", None)]


@in_server
async def test_completion_of_a_key_typed_where_the_text_stopped_parsing(client):
    uri = await open_doc(client, "view: users {\n}\n")
    await replace(client, uri, 2, "  dimen\n", (1, 0))  # in an empty block
    assert [d[4:] for d in shown(client, uri)] == [
        ("required", "`view:users` lacks `sql_table_name`"), (None, "expected `:` after key")]
    items = await completions(client, uri, types.Position(1, 7))
    assert [i.label for i in items] == ["sql_table_name", "label", "hidden", "tags", "link", "dimension"]
    (item,) = [i for i in items if i.label == "dimension"]
    assert accept("view: users {\n  dimen\n}\n", item, client.encoding) == "view: users {\n  dimension: name {\n    type: string\n  }\n}\n"


HOVER_TEXT = view("  dimension: id { type: number }\n  tags: pii\n")
# (position, the schema's part of the hover, before the rule)
HOVER = [
    ((2, 20), "How the value **reads**.\n\nTakes one of `number`, `string` or `yesno`; by default `string`."),
    ((2, 3), "A column.\n\nTakes named blocks."),  # a named block's key: its names
    ((2, 14), "Takes a block."),  # its name: the block
    ((0, 1), "A view of a table.\n\nTakes named blocks."),
    ((0, 8), "**View**\n\nTakes a block."),
    ((1, 4), "The table it reads.\n\nTakes a string."),
    ((3, 8), "Takes one of `pii` or `core data`."),  # the one value of a list
]


@in_server
@pytest.mark.parametrize("where, expected", HOVER)
async def test_hover(client, where, expected):
    uri = await open_doc(client, HOVER_TEXT)
    found = await client.text_document_hover_async(types.HoverParams(
        text_document=types.TextDocumentIdentifier(uri=uri), position=types.Position(*where)))
    schema_part, rule, _ = found.contents.value.partition("\n\n---\n\n")
    assert (schema_part, rule) == (expected, "\n\n---\n\n")


# (text, the title of the fix, the text it makes): each fix is applied and the text
# checked again.
FIXES = [
    (view("  lable: x\n"), "Change to `label`", view("  label: x\n")),
    ("viwe: users {\n  sql_table_name: t ;;\n}\n", "Change to `view`", view("")),
    (view("  dimension: id { type: numbr }\n"), "Change to `number`", view("  dimension: id { type: number }\n")),
    (view('  dimension: id { type: "numbr" }\n'), "Change to `number`", view('  dimension: id { type: "number" }\n')),
    (view("  tags: [pij]\n"), "Change to `pii`", view("  tags: [pii]\n")),
    ("view: users {\n  label: x\n}\n", "Add `sql_table_name`",
     "view: users {\n  label: x\n  sql_table_name: analytics.users ;;\n}\n"),
    ("view: users {\r\n\tlabel: x\r\n}\r\n", "Add `sql_table_name`",
     "view: users {\r\n\tlabel: x\r\n\tsql_table_name: analytics.users ;;\r\n}\r\n"),
    (view("  dimension: id {\n    sql: x ;;\n  }\n"), "Add `type`", view("  dimension: id {\n    sql: x ;;\n    type: string\n  }\n")),
    (view("  dimension: id { sql: x ;; }\n"), "Add `type`", view("  dimension: id { sql: x ;; type: string }\n")),
    (view("  link: {\n    icon: x\n  }\n"), "Add `url`", view('  link: {\n    icon: x\n    url: ""\n  }\n')),
    ("view: users {}\n", "Add `sql_table_name`", "view: users {\n  sql_table_name: analytics.users ;;\n}\n"),
]


@in_server
@pytest.mark.parametrize("text, title, expected", FIXES)
async def test_quick_fixes(client, text, title, expected):
    uri = await open_doc(client, text)
    before = shown(client, uri)
    (fixed,) = [d for d in client.diagnostics[uri] if d.source == "quarel"]
    (action,) = await client.text_document_code_action_async(types.CodeActionParams(
        text_document=types.TextDocumentIdentifier(uri=uri), range=fixed.range,
        context=types.CodeActionContext(diagnostics=[fixed])))
    assert (action.title, action.kind, list(action.diagnostics)) == (title, types.CodeActionKind.QuickFix, [fixed])
    ((edit,),) = action.edit.changes.values()
    after = apply_edits(text, [edit], client.encoding)
    assert after == expected
    await replace(client, uri, 2, after)
    assert shown(client, uri) == [d for d in before if d[4:] != (fixed.code, fixed.message)] == []


def project(client, folder, schema, config='[[schema]]\npath = "schema.json"\ninclude = ["*.quarel"]\n'):
    """A folder with a configuration of its own, and its schema file (text, when given)."""
    where = client.root / folder
    write(where / "quarel.toml", config)
    if schema is not None:
        write(where / "schema.json", schema)
    return str(where)


# (the folder's schema file, its configuration, the message of the one diagnostic)
UNUSABLE = [
    ('{"type": ', None, "{folder}/quarel.toml: [[schema]]: {folder}/schema.json:1:10: not valid JSON: Expecting value"),
    ('{"$ref": "#"}', None, "{folder}/quarel.toml: [[schema]]: {folder}/schema.json: `$ref` cycle that never reaches a value: # → #"),
    (None, None, "{folder}/quarel.toml: [[schema]]: {folder}/schema.json: No such file or directory"),
    ('{"type": "object"}', '[[schema]]\npath = 1\ninclude = ["*"]\n',
     "{folder}/quarel.toml: error: [[schema]] needs `path`, the schema file"),
]


@in_server
@pytest.mark.parametrize("schema, config, message", UNUSABLE)
async def test_an_unusable_schema_is_one_diagnostic_at_the_first_line(client, schema, config, message):
    folder = project(client, f"unusable{UNUSABLE.index((schema, config, message))}", schema,
                     *([config] if config else []))
    uri = await open_doc(client, "a: 1\nb: [\n", folder=os.path.basename(folder))
    assert shown(client, uri) == [
        (0, 0, 0, 4, "schema", "the schema cannot be used: " + message.format(folder=folder)),
        (2, 0, 2, 0, None, "expected a list element")]


@in_server
async def test_schemas_found_by_directive_configuration_and_setting(client):
    problem = [(0, 0, 0, 4, "additionalProperties", "`viwe` is not allowed at the top level; did you mean `view`?")]
    by_directive = await open_doc(client, "#:schema ../schemas/views.json\n\nviwe: x {}\n", folder="other")
    assert [d[4:] for d in shown(client, by_directive)] == [problem[0][4:]]
    missing = await open_doc(client, "#:schema nowhere.json\na: 1\n", folder="other")
    path = client.root / "other" / os.path.basename(missing)
    assert shown(client, missing) == [(0, 0, 0, 21, "schema", f"the schema cannot be used: {path}:1: #:schema: "
                                                            f"{client.root}/other/nowhere.json: No such file or directory")]
    elsewhere = await open_doc(client, "viwe: x {}\n", folder="elsewhere")
    assert shown(client, elsewhere) == []  # no schema applies
    # The setting, as the editor answers when asked (its notification says nothing) ...
    client.set_configuration({"schemas": {"schemas/views.json": ["elsewhere/*.quarel"]}}, section="quarel")
    client.workspace_did_change_configuration(types.DidChangeConfigurationParams(settings=None))
    await until(lambda: shown(client, elsewhere) == problem, "problems of the setting's schema")
    # ... and as it sends it, bare.
    client.workspace_did_change_configuration(types.DidChangeConfigurationParams(settings={"schemas": {}}))
    await until(lambda: shown(client, elsewhere) == [], "the setting's schema left")
    client.set_configuration({}, section="quarel")


@in_server
async def test_a_schema_changed_on_disk_is_read_again(client):
    folder = project(client, "live", '{"properties": {"a": {"type": "integer"}}}')
    uri = await open_doc(client, "a: x\n", folder="live")
    assert shown(client, uri) == [(0, 3, 0, 4, "type", "`a` must be a whole number (found `x`)")]
    schema = os.path.join(folder, "schema.json")
    with open(schema, "w") as f:
        f.write('{"properties": {"a": {"type": "string"}}}')
    client.workspace_did_change_watched_files(types.DidChangeWatchedFilesParams(
        changes=[types.FileEvent(uri=from_fs_path(schema), type=types.FileChangeType.Changed)]))
    await until(lambda: shown(client, uri) == [], "the schema read again")
    with open(schema, "w") as f:  # changed without a word: seen at the next keystroke
        f.write('{"properties": {"a": {"type": "boolean"}}}')
    await replace(client, uri, 2, "y", (0, 3), (0, 4))
    assert shown(client, uri) == [(0, 3, 0, 4, "type", "`a` must be yes or no (found `y`)")]


@in_server
async def test_odd_places_and_schemas_answer_without_error(client):
    project(client, "nothing", "false")
    uri = await open_doc(client, "a: 1\n", folder="nothing")
    assert shown(client, uri) == [(0, 0, 0, 4, "FalseSchema", "the document is not allowed")]
    # Inside a surrogate pair (UTF-16) or a character's bytes (UTF-8), at the end of a text
    # without a line break, far past it.
    uri = await open_doc(client, view('  label: "😀"\n') + "vi\nlong: " + "x" * 100_000 + " y")
    middle = {"utf-16": 11, "utf-8": 12}[client.encoding]
    # (Completion read a long line from every start: minutes for this one.)
    for line, character in [(2, middle), (4, 2), (4, 99), (5, 100_008), (99, 0)]:
        where = types.Position(line=line, character=character)
        document = types.TextDocumentIdentifier(uri=uri)
        await client.text_document_completion_async(types.CompletionParams(text_document=document, position=where))
        await client.text_document_hover_async(types.HoverParams(text_document=document, position=where))
        await client.text_document_code_action_async(types.CodeActionParams(
            text_document=document, range=types.Range(start=where, end=where), context=types.CodeActionContext(diagnostics=[])))
