"""The language server end to end, driven over stdio as an editor drives it, in both
position encodings."""

from __future__ import annotations

import asyncio
import functools
import itertools
import re
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

pytest_lsp = pytest.importorskip("pytest_lsp")

from lsprotocol import types  # noqa: E402
from pygls.exceptions import JsonRpcException  # noqa: E402
from pygls.uris import from_fs_path  # noqa: E402
from pytest_lsp import ClientServerConfig, LanguageClient  # noqa: E402

from conftest import write  # noqa: E402
from lsp_reference import apply_edits, position, span, units  # noqa: E402


# The tests share a server per encoding, and so its event loop.
in_server = pytest.mark.asyncio(loop_scope="module")

SERVER = [sys.executable, "-m", "tallix_cst", "lsp"]
ENCODINGS = ["utf-16", "utf-8"]

# The workspace the server indexes: `dimension` blocks, whose keys completion ranks.
WORKSPACE = {
    "a.quarel": "view: users {\n  dimension: id {\n    type: number\n    sql: ${TABLE}.id ;;\n  }\n"
    "  dimension: name {\n    type: string\n    label: \"Name\"\n  }\n}\n",
    "sub/b.quarel": "view: orders {\n  dimension: total {\n    type: number\n    hidden: yes\n  }\n}\n",
    "broken.quarel": "view: {\n",
}

_uris = (f"file:///open/doc{n}.quarel" for n in itertools.count())


@pytest_lsp.fixture(scope="module", params=ENCODINGS, config=ClientServerConfig(server_command=SERVER))
async def client(lsp_client: LanguageClient, request: pytest.FixtureRequest):
    root = request.getfixturevalue("tmp_path_factory").mktemp("workspace")
    for name, text in WORKSPACE.items():
        write(root / name, text)
    lsp_client.root = root
    lsp_client.feature(types.CLIENT_REGISTER_CAPABILITY)(lambda params: None)
    lsp_client.encoding = request.param
    result = await lsp_client.initialize_session(types.InitializeParams(
        capabilities=types.ClientCapabilities(
            general=types.GeneralClientCapabilities(position_encodings=[request.param]),
            workspace=types.WorkspaceClientCapabilities(
                did_change_watched_files=types.DidChangeWatchedFilesClientCapabilities(dynamic_registration=True))),
        workspace_folders=[types.WorkspaceFolder(uri=from_fs_path(str(root)), name="w")]))
    lsp_client.legend = result.capabilities.semantic_tokens_provider.legend.token_types
    yield
    await lsp_client.shutdown_session()


async def open_doc(client, text, uri=None):
    uri = uri or next(_uris)
    client.text_document_did_open(types.DidOpenTextDocumentParams(
        text_document=types.TextDocumentItem(uri=uri, language_id="quarel", version=1, text=text)))
    await client.wait_for_notification(types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
    return uri


async def change(client, uri, version, text, start=None, end=None):
    """Sends a change (the whole text, or a range of it) and waits for its diagnostics."""
    if start is None:
        edit = types.TextDocumentContentChangeWholeDocument(text=text)
    else:
        edit = types.TextDocumentContentChangePartial(range=types.Range(start=types.Position(*start), end=types.Position(*end)), text=text)
    client.text_document_did_change(types.DidChangeTextDocumentParams(
        text_document=types.VersionedTextDocumentIdentifier(uri=uri, version=version), content_changes=[edit]))
    await client.wait_for_notification(types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)


def doc_id(uri):
    return types.TextDocumentIdentifier(uri=uri)


async def outline(client, uri):
    symbols = await client.text_document_document_symbol_async(types.DocumentSymbolParams(text_document=doc_id(uri)))

    def tree(items):
        return [(s.name, s.kind, s.detail, span(s.range), span(s.selection_range), tree(s.children or [])) for s in items]

    return tree(symbols or [])


def errors(client, uri):
    return [(d.range.start.line, d.range.start.character, d.message) for d in client.diagnostics[uri]]


# Several errors in one text, each where it is: the parse goes on after each.
RECOVERING = (
    'a: 1\nb 2\nc: [x y]\nview: v {\n  d: "ok"\n  e f\n  g: {\n}\nh:\n',
    [(1, 2, "expected `:` after key"), (2, 6, "expected `,` or `]` in list"),
     (5, 4, "expected `:` after key"), (9, 0, "expected a value")],
)


@in_server
async def test_diagnostics_recover_clear_and_keep_the_outline(client):
    text, expected = RECOVERING
    uri = await open_doc(client, text)
    assert errors(client, uri) == expected
    await change(client, uri, 2, "a: 1 b: 2\nv: x {\n  c: 3\n}\n")
    assert errors(client, uri) == []
    # Typing a broken line above keeps the outline, moved down a line. An editor re-sends
    # the rest of a line it breaks as new text: the positions after the break move to the
    # next line, not along the replaced stretch.
    await change(client, uri, 3, "oops\n", (0, 0), (0, 0))
    assert errors(client, uri) == [(0, 4, "expected `:` after key")]
    await change(client, uri, 4, "\nb: 2", (1, 4), (1, 9))
    assert [(name, where) for name, _, _, where, _, _ in await outline(client, uri)] == [
        ("a", (1, 0, 1, 4)), ("b", (2, 0, 2, 4)), ("v x", (3, 0, 5, 1))]
    folds = await client.text_document_folding_range_async(types.FoldingRangeParams(text_document=doc_id(uri)))
    assert [(f.start_line, f.end_line) for f in folds] == [(3, 4)]
    found = await client.text_document_hover_async(types.HoverParams(text_document=doc_id(uri), position=types.Position(2, 0)))
    assert found.contents.value.startswith("`b`")


SYMBOLS_TEXT = 'view: users {\n  label: "Users of the shop, with a long description"\n  tags: [a, k: v]\n  x: {\n    sql: a ;;\n  }\n}\n'
K = types.SymbolKind
SYMBOLS = [
    ("view users", K.Class, None, (0, 0, 6, 1), (0, 0, 0, 4), [
        ("label", K.String, "Users of the shop, with a long descripti…", (1, 2, 1, 53), (1, 2, 1, 7), []),
        ("tags", K.Array, "[a, k: v]", (2, 2, 2, 17), (2, 2, 2, 6), []),
        ("x", K.Struct, None, (3, 2, 5, 3), (3, 2, 3, 3), [
            ("sql", K.Function, "a", (4, 4, 4, 13), (4, 4, 4, 7), []),
        ]),
    ]),
]


@in_server
async def test_document_symbols(client):
    assert await outline(client, await open_doc(client, SYMBOLS_TEXT)) == SYMBOLS
    # Away from ASCII the positions are the encoding's.
    text = "😀é: {\n  日本: 1\n}\n"
    ((_, _, _, whole, key, ((_, _, _, inner, inner_key, _),)),) = await outline(client, await open_doc(client, text))
    p = lambda i: position(text, i, client.encoding)  # noqa: E731
    assert (whole, key, inner, inner_key) == (
        (*p(0), *p(15)), (*p(0), *p(2)), (*p(8), *p(13)), (*p(8), *p(10))
    )


FOLDING_TEXT = '# one\n# two\nv: x {\n  l: [a,\n    [b,\n     c]]\n  s: "x\ny"\n  sql: a\n    b ;;\n}\n# end\n'
# (start line, end line, kind): a block and a list up to the line before their closing
# one; a list closing on the line after it opened folds nothing.
FOLDING = [(0, 1, "comment"), (2, 9, None), (3, 4, None), (6, 7, None), (8, 9, None)]


@in_server
async def test_folding(client):
    uri = await open_doc(client, FOLDING_TEXT)
    folds = await client.text_document_folding_range_async(types.FoldingRangeParams(text_document=doc_id(uri)))
    assert sorted((f.start_line, f.end_line, f.kind) for f in folds) == FOLDING


SELECTION_TEXT = "v: x {\n  a: [b, cd]\n  e: 1\n}\n"
# (position, the ranges from the innermost out)
SELECTION = [
    ((1, 10), [(1, 9, 1, 11), (1, 2, 1, 12), (0, 0, 3, 1), (0, 0, 4, 0)]),  # token, pair, block, document
    ((2, 2), [(2, 2, 2, 3), (2, 2, 2, 6), (0, 0, 3, 1), (0, 0, 4, 0)]),
    ((9, 9), [(0, 0, 4, 0)]),  # past the end: the document
]


@in_server
@pytest.mark.parametrize("at,expected", SELECTION)
async def test_selection_ranges(client, at, expected):
    uri = await open_doc(client, SELECTION_TEXT)
    (chain,) = await client.text_document_selection_range_async(
        types.SelectionRangeParams(text_document=doc_id(uri), positions=[types.Position(*at)]))
    spans = []
    while chain is not None:
        spans.append(span(chain.range))
        chain = chain.parent
    assert spans == expected


HOVER_TEXT = "v: x {\n  # note\n  d*: 1  # end\n  s: \"a\n```\nb\"\n}\n"
HOVER = [
    ((2, 3), "`v:x/d\\*` (literal)\n\n```\n1\n```\n\n```\n# note\n# end\n```"),
    ((0, 0), "`v:x` (block)\n\n2 pairs"),
    ((3, 2), "`v:x/s` (string)\n\n````\na\n```\nb\n````"),  # a fence longer than the value's
    ((9, 0), None),
    ((10**6, 10**6), None),  # far past the end
]


@in_server
@pytest.mark.parametrize("at,expected", HOVER)
async def test_hover(client, at, expected):
    uri = await open_doc(client, HOVER_TEXT)
    found = await client.text_document_hover_async(types.HoverParams(text_document=doc_id(uri), position=types.Position(*at)))
    assert (found and found.contents.value) == expected


@in_server
async def test_semantic_tokens(client):
    uri = await open_doc(client, 'v: x { # c\n  s: "é" }\n')
    e = client.encoding
    expected = [
        (0, 0, 1, "property"), (0, 1, 1, "operator"), (0, 3, 1, "class"), (0, 5, 1, "operator"),
        (0, 7, 3, "comment"), (1, 2, 1, "property"), (1, 3, 1, "operator"),
        (1, 5, units('"é"', e), "string"), (1, 5 + units('"é" ', e), 1, "operator"),
    ]
    full = await client.text_document_semantic_tokens_full_async(types.SemanticTokensParams(text_document=doc_id(uri)))
    assert decode(client, full.data) == expected
    ranged = await client.text_document_semantic_tokens_range_async(
        types.SemanticTokensRangeParams(text_document=doc_id(uri), range=types.Range(
            start=types.Position(1, 0), end=types.Position(2, 0)))
    )
    assert decode(client, ranged.data) == expected[5:]


def decode(client, data):
    names = client.legend
    tokens, line, start = [], 0, 0
    for i in range(0, len(data), 5):
        delta_line, delta_start, length, kind, _ = data[i : i + 5]
        line, start = line + delta_line, (start + delta_start if delta_line == 0 else delta_start)
        tokens.append((line, start, length, names[kind]))
    return tokens


async def eventually(ask, expected, seconds=10):
    """Waits for an answer the server gives once its reading thread has caught up."""
    for _ in range(int(seconds / 0.05)):
        found = await ask()
        if found == expected:
            return
        await asyncio.sleep(0.05)
    raise AssertionError(f"still {found!r}, not {expected!r}, after {seconds} s")


async def symbol_names(client, query):
    found = await client.workspace_symbol_async(types.WorkspaceSymbolParams(query=query))
    return sorted(symbol.name for symbol in found)


async def indexed(client):
    """Waits for the background index of the workspace."""
    await eventually(lambda: symbol_names(client, "view users"), ["view users"])


# (text, position, labels in order, detail of the first): `dimension` keys across the
# workspace by how many `dimension` blocks hold them, the open document counting as typed;
# a key the block holds already only where blocks repeat it; nothing where no key can
# stand.
DIMENSION = "view: v {\n  dimension: d {\n    %s\n  }\n}\n"
COMPLETION = [
    (DIMENSION % "", (2, 4), ["type", "hidden", "label", "sql"], "in 3 of `dimension` blocks"),
    (DIMENSION % "sql: x ;;\n    ", (3, 4), ["type", "hidden", "label"], "in 3 of `dimension` blocks"),
    (DIMENSION % "type: number ", (2, 17), ["hidden", "label", "sql"], "in 1 of `dimension` blocks"),
    (DIMENSION % "ty", (2, 6), ["type", "hidden", "label", "sql"], "in 3 of `dimension` blocks"),
    ("view: v {}\nview: w {}\n\n", (2, 0), ["view"], "at the top of a file"),  # repeated here
    ("view: v {}\n\n", (1, 0), [], None),  # held once, and by no file twice
    ("dimension: d {\n  ty\n}\n", (1, 4), ["type", "hidden", "label", "sql"], "in 3 of `dimension` blocks"),
    (DIMENSION % "type: n", (2, 11), [], None),  # a value
    (DIMENSION % "type: number # a comment, t", (2, 31), [], None),
    (DIMENSION % 'label: "a string, t', (2, 23), [], None),
    (DIMENSION % 'label: "a\n    t"', (3, 5), [], None),  # a string over lines
    (DIMENSION % "tags: [a,\n    t]", (3, 5), [], None),  # a list
    (DIMENSION % "sql: a\n    t ;;", (3, 5), [], None),  # an expression
    ("view: v {\n  dimension: \n}\n", (1, 13), [], None),  # a block's name
]


@in_server
@pytest.mark.parametrize("text,at,labels,detail", COMPLETION)
async def test_completion(client, text, at, labels, detail):
    await indexed(client)
    uri = await open_doc(client, text)
    found = await client.text_document_completion_async(types.CompletionParams(text_document=doc_id(uri), position=types.Position(*at)))
    items = sorted(found.items, key=lambda item: item.sort_text) if found else []
    assert [item.label for item in items] == labels
    assert (items[0].detail if items else None) == detail


RENAME_TEXT = "view: users {\n  dimension: id {}\n}\n"
# (position, new name, the edit's range or the error's start, or None where nothing renames)
RENAME = [
    ((0, 7), "people", (0, 6, 0, 11)),
    ((1, 15), "key", (1, 13, 1, 15)),  # just past the name still names it
    ((0, 2), "x", None),  # a key
    ((1, 18), "x", None),  # a brace
    ((0, 7), "two words", "`two words`: "),
    ((0, 7), "", "``: "),
]


@in_server
@pytest.mark.parametrize("at,new_name,expected", RENAME)
async def test_rename(client, at, new_name, expected):
    uri = await open_doc(client, RENAME_TEXT)
    where = types.Position(*at)
    prepared = await client.text_document_prepare_rename_async(types.PrepareRenameParams(text_document=doc_id(uri), position=where))
    params = types.RenameParams(text_document=doc_id(uri), position=where, new_name=new_name)
    if expected is None:
        assert prepared is None
        with pytest.raises(JsonRpcException, match="only a block name can be renamed"):
            await client.text_document_rename_async(params)
    elif isinstance(expected, str):
        with pytest.raises(JsonRpcException, match=re.escape(expected)):
            await client.text_document_rename_async(params)
    else:
        assert span(prepared.range) == expected
        edit = await client.text_document_rename_async(params)
        ((text_edit,),) = edit.changes.values()
        assert (span(text_edit.range), text_edit.new_text) == (expected, new_name)


@in_server
async def test_workspace_symbols_follow_the_files(client):
    await indexed(client)
    names = functools.partial(symbol_names, client)
    assert await names("DIM") == ["dimension id", "dimension name", "dimension total"]
    assert await names("view ") == ["view orders", "view users"]  # broken.quarel does not parse
    new = client.root / "c.quarel"
    for text, kind, extra, other in [
        ("view: extra {}\n", types.FileChangeType.Created, ["view extra"], []),
        ("view: other {}\n", types.FileChangeType.Changed, [], ["view other"]),
        (None, types.FileChangeType.Deleted, [], []),
    ]:
        new.write_text(text) if text else new.unlink()
        client.workspace_did_change_watched_files(types.DidChangeWatchedFilesParams(
            changes=[types.FileEvent(uri=from_fs_path(str(new)), type=kind)]))
        await eventually(lambda: names("extra"), extra)
        await eventually(lambda: names("other"), other)
    # A folder that leaves the workspace takes its files along; one that comes is indexed.
    folder = types.WorkspaceFolder(uri=from_fs_path(str(client.root)), name="w")
    for added, removed, expected in [([], [folder], []), ([folder], [], ["view users"])]:
        client.workspace_did_change_workspace_folders(types.DidChangeWorkspaceFoldersParams(
            event=types.WorkspaceFoldersChangeEvent(added=added, removed=removed)))
        await eventually(lambda: names("view users"), expected)


# Random edits, sent one at a time as ranges, end where opening their result starts.
PIECES = ["a", "b: ", ":", " ", "\n", "\r\n", "{", "}", "[", "]", ",", '"', "é", "😀", "#", ";;", "sql: "]


@in_server
@settings(max_examples=8, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 200), st.integers(0, 4), st.lists(st.sampled_from(PIECES), max_size=4).map("".join)), min_size=1, max_size=6))
async def test_incremental_edits_match_a_fresh_open(client, edits):
    text = 'v: x {\n  a: [1, 2]\n  s: "é😀"\n}\n'
    uri = await open_doc(client, text)
    for version, (at, length, new) in enumerate(edits, 2):
        start = min(at, len(text))
        end = min(start + length, len(text))
        if text[start - 1 : start + 1] == "\r\n" or text[end - 1 : end + 1] == "\r\n":
            continue
        await change(client, uri, version, new, position(text, start, client.encoding), position(text, end, client.encoding))
        text = text[:start] + new + text[end:]
    fresh = await open_doc(client, text)
    assert errors(client, uri) == errors(client, fresh)
    if not errors(client, fresh):
        assert await outline(client, uri) == await outline(client, fresh)


UNTIDY = 'a:1\nv: w {\n      l: "é😀"   # c\n  m : [x ,y]\n}\n'
OWN = 'a: 1\nv: w {\n      l: "é😀"  # c\n      m: [x, y]\n}\n'  # as `quarel fmt` formats it
TABS = 'a: 1\nv: w {\n\tl: "é😀"  # c\n\tm: [x, y]\n}\n'
TWO = 'a: 1\nv: w {\n  l: "é😀"  # c\n  m: [x, y]\n}\n'
# (text, the editor's (tab size, spaces), the setting format.editorIndent, the project's
# [tool.quarel.format], the range's lines (first, last) from 0 or None, expected)
FORMATTING = [
    (UNTIDY, (2, True), False, None, None, OWN),  # the file's own style, not the editor's
    (UNTIDY, (4, False), True, None, None, TABS),  # the editor's when the setting asks
    (UNTIDY, (4, False), True, "indent = 2", None, TWO),  # the project's over the editor's
    (UNTIDY, (2, True), False, 'indent = "tab"', None, TABS),
    (UNTIDY, (2, True), False, None, (3, 3), 'a:1\nv: w {\n      l: "é😀"   # c\n      m: [x, y]\n}\n'),
    ("a:1\nb:2\n", (2, True), False, None, (0, 0), "a: 1\nb:2\n"),  # the next line's start is not selected
    (UNTIDY.replace("\n", "\r\n"), (2, True), False, None, None, OWN.replace("\n", "\r\n")),
]


@in_server
@pytest.mark.parametrize("text,editor,editor_indent,project,lines,expected", FORMATTING)
async def test_formatting(client, tmp_path, text, editor, editor_indent, project, lines, expected):
    if project is not None:
        (tmp_path / "pyproject.toml").write_text(f"[tool.quarel.format]\n{project}\n")
    uri = await open_doc(client, text, from_fs_path(str(tmp_path / "f.quarel")))
    configure(client, editor_indent)
    options = types.FormattingOptions(tab_size=editor[0], insert_spaces=editor[1], insert_final_newline=False)
    try:
        if lines is None:
            params = types.DocumentFormattingParams(text_document=doc_id(uri), options=options)
            edits = await client.text_document_formatting_async(params)
        else:
            where = types.Range(start=types.Position(lines[0], 0), end=types.Position(lines[1] + 1, 0))
            params = types.DocumentRangeFormattingParams(text_document=doc_id(uri), range=where, options=options)
            edits = await client.text_document_range_formatting_async(params)
    finally:
        configure(client, False)
        client.text_document_did_close(types.DidCloseTextDocumentParams(text_document=doc_id(uri)))
    assert apply_edits(text, edits or [], client.encoding) == expected
    assert all(not edit.new_text.strip(" \t\r\n") for edit in edits or [])  # whitespace alone


def configure(client, editor_indent):
    client.workspace_did_change_configuration(types.DidChangeConfigurationParams(
        settings={"quarel": {"format": {"editorIndent": editor_indent}}}))


# Edits the server refuses, with the message the editor shows.
REFUSED = [
    ("a: [\n", types.TEXT_DOCUMENT_FORMATTING, "the file does not parse, so it is left as it is: expected a list element (line 2, character 1)"),
    ("a:  1\rb: 2\n", types.TEXT_DOCUMENT_FORMATTING, "no formatting: line 1 ends with a carriage return alone"),
    ("v: x {}\rw: y {}\n", types.TEXT_DOCUMENT_RENAME, "no rename: line 1 ends with a carriage return alone"),
    ("v: x {\n", types.TEXT_DOCUMENT_RENAME, "the file does not parse: a block name can be renamed once its syntax errors are fixed"),
]


@in_server
@pytest.mark.parametrize("text,method,message", REFUSED)
async def test_refused_edits(client, text, method, message):
    uri = await open_doc(client, text)
    if method == types.TEXT_DOCUMENT_RENAME:
        request = client.text_document_rename_async(types.RenameParams(
            text_document=doc_id(uri), position=types.Position(0, 3), new_name="z"))
    else:
        request = client.text_document_formatting_async(types.DocumentFormattingParams(
            text_document=doc_id(uri), options=types.FormattingOptions(tab_size=2, insert_spaces=True)))
    with pytest.raises(JsonRpcException, match=re.escape(message)):
        await request


@in_server
async def test_a_text_that_never_parsed_shows_what_recovery_keeps(client):
    uri = await open_doc(client, "view: v {\n  dimension: d {\n    ty\n  }\n}\n")
    assert [(name, where, [child[0] for child in children]) for name, _, _, where, _, children in await outline(client, uri)] == [
        ("view v", (0, 0, 4, 1), ["dimension d"])]
    full = await client.text_document_semantic_tokens_full_async(types.SemanticTokensParams(text_document=doc_id(uri)))
    assert decode(client, full.data)[:3] == [(0, 0, 4, "property"), (0, 4, 1, "operator"), (0, 6, 1, "class")]
    # Where recovery keeps nothing, nothing folds and a selection is the whole text.
    uri = await open_doc(client, "}{ ]")
    assert await client.text_document_folding_range_async(types.FoldingRangeParams(text_document=doc_id(uri))) == ()
    (chain,) = await client.text_document_selection_range_async(
        types.SelectionRangeParams(text_document=doc_id(uri), positions=[types.Position(0, 0)]))
    assert (span(chain.range), chain.parent) == ((0, 0, 0, 4), None)


@in_server
async def test_saved_and_unsaved_changes_reach_the_index(client):
    await indexed(client)
    path = client.root / "saved.quarel"
    path.write_text("view: before_save {}\n")
    uri = from_fs_path(str(path))
    names = functools.partial(symbol_names, client)
    await open_doc(client, path.read_text(), uri)
    await change(client, uri, 2, "view: typed_unsaved {}\n")
    await eventually(lambda: names("typed_unsaved"), ["view typed_unsaved"])
    path.write_text("view: after_save {}\n")  # saved otherwise than typed, as a format-on-save might
    client.text_document_did_save(types.DidSaveTextDocumentParams(text_document=doc_id(uri)))
    client.text_document_did_close(types.DidCloseTextDocumentParams(text_document=doc_id(uri)))
    await eventually(lambda: names("after_save"), ["view after_save"])
    assert await names("typed_unsaved") == [] and await names("before_save") == []
    path.unlink()
    client.workspace_did_change_watched_files(types.DidChangeWatchedFilesParams(
        changes=[types.FileEvent(uri=uri, type=types.FileChangeType.Deleted)]))
