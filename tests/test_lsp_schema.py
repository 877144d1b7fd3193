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

in_server = pytest.mark.asyncio(loop_scope="module")
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
    (root / "schemas").mkdir()
    (root / "schemas" / "views.json").write_text(json.dumps(VIEWS))
    (root / "quarel.toml").write_text(CONFIG)
    lsp_client.root = root
    lsp_client.encoding = request.param
    lsp_client.versions = {}
    shown = lsp_client.protocol.fm.features[types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS]

    def published(params):  # which version each document's diagnostics are of
        lsp_client.versions[params.uri] = params.version
        shown(params)

    lsp_client.protocol.fm.features[types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS] = published
    await lsp_client.initialize_session(
        types.InitializeParams(
            capabilities=types.ClientCapabilities(
                general=types.GeneralClientCapabilities(position_encodings=[request.param]),
                text_document=types.TextDocumentClientCapabilities(
                    completion=types.CompletionClientCapabilities(
                        completion_item=types.ClientCompletionItemOptions(snippet_support=True)
                    )
                ),
                workspace=types.WorkspaceClientCapabilities(configuration=True),
            ),
            workspace_folders=[types.WorkspaceFolder(uri=from_fs_path(str(root)), name="p")],
        )
    )
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
    return [(d.range.start.line, d.range.start.character, d.range.end.line, d.range.end.character, d.code, d.message)
            for d in client.diagnostics[uri]]


def at(r):
    return (r.start.line, r.start.character, r.end.line, r.end.character)


def apply(text, edits, encoding):
    """The text with the edits made, positions counted in the encoding's units."""
    lines = re.split(r"(?<=\n)", text)
    starts = list(itertools.accumulate([0] + [len(line) for line in lines]))

    def index(p):
        line = lines[p.line] if p.line < len(lines) else ""
        width = (lambda s: len(s.encode("utf-16-le")) // 2) if encoding == "utf-16" else (lambda s: len(s.encode()))
        return starts[min(p.line, len(lines))] + next(n for n in range(len(line) + 1) if width(line[:n]) >= p.character)

    for edit in sorted(edits, key=lambda e: (e.range.start.line, e.range.start.character), reverse=True):
        text = text[: index(edit.range.start)] + edit.new_text + text[index(edit.range.end):]
    return text


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
