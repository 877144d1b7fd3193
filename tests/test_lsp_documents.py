"""The language server's parts in process, on every interpreter: open texts and their
changes, positions, diagnostics, selection, the lanes that order each document's work,
the workspace index, and formatting as an editor applies it. Each is held to a reference
written here: a regex line split, a model of the text as marked bytes, a client that ends
lines only at LF and CR LF."""

from __future__ import annotations

import asyncio
import json
import re
import threading
import time
from pathlib import Path
from types import SimpleNamespace

import pytest
from hypothesis import example, given
from hypothesis import strategies as st
from lsprotocol import types
from lsprotocol.converters import get_converter
from pygls.exceptions import JsonRpcException

from conftest import write
from lsp_reference import LF_LINES, apply_edits, position, span
from strategies import documents
from tallix_cst import format_text, parse_quarel
from tallix_cst.lsp import diagnostics, formatting, selection
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.inserts import edit_between
from tallix_cst.lsp.lanes import Lane
from tallix_cst.lsp.parsed import Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.problems import moved
from tallix_cst.lsp.server import QuarelServer
from tallix_cst.lsp.workspace import Workspace

ENCODINGS = ["utf-8", "utf-16"]


def line_starts(data):
    return [0] + [m.end() for m in re.finditer(rb"\r\n|\r|\n", data)]


def opened(text, encoding="utf-16", uri="untitled:doc"):
    return OpenDocument(uri, 1, text, Workspace(encoding))


TEXTS = st.lists(st.sampled_from(["a", "x: ", "[a, a]", "é", "😀", "\r\n", "\n", "\r", " "]), max_size=12).map("".join)


# A whole text sent again becomes the server's text, however much its start and end
# share with the old one.
@given(TEXTS, TEXTS)
@example("aa", "aaa")
@example("aaa", "aa")
@example("x: [a, a]", "x: [a, a, a]")
@example("x: [a, a, a]", "x: [a, a]")
@example("a\r\nb", "a\rb")
def test_whole_text_change(old, new):
    document = opened(old)
    document.change(2, [types.TextDocumentContentChangeWholeDocument(text=new)])
    assert document.data == new.encode()
    assert document.index.starts == line_starts(new.encode())


# Replacements (at, bytes removed, bytes put in) of a text of marked bytes.
REPLACEMENTS = st.lists(st.tuples(st.integers(0, 30), st.integers(0, 4), st.integers(0, 4)), max_size=5)


def replaced(size, edits):
    """The marks 0..size-1 with the edits made, None for each byte put in; and the moves
    that the edits are to a document."""
    marks, moves = list(range(size)), []
    for at, removed, inserted in edits:
        start = min(at, len(marks))
        end = min(start + removed, len(marks))
        marks[start:end] = [None] * inserted
        moves.append((start, end, inserted))
    return marks, moves


# Offsets of a parsed text carried through replacements, against the marked bytes: a
# byte that no replacement took lands where its mark went, and back.
@given(st.integers(0, 20), REPLACEMENTS)
def test_offsets_move_through_replacements(size, edits):
    marks, moves = replaced(size, edits)
    parsed = Parsed(parse_quarel(""), b"", moves)
    for offset in range(size + 1):
        if offset < size and offset not in marks:
            continue  # replaced: it stands at the start of what replaced it
        expected = marks.index(offset) if offset < size else len(marks)
        assert parsed.current(offset) == expected
        assert parsed.parsed(expected) == offset


# A problem's stretch carried through replacements, against the same marked bytes: kept
# where no replacement took one of its bytes or put one among them.
@given(st.integers(1, 20), st.integers(0, 20), st.integers(1, 5), REPLACEMENTS)
@example(2, 0, 2, [(1, 0, 0)])  # an edit that changes nothing, inside the stretch
def test_problems_move_through_replacements(size, start, width, edits):
    start = min(start, size - 1)
    end = min(start + width, size)
    marks, moves = replaced(size, edits)
    kept = [marks.index(o) if o in marks else None for o in range(start, end)]
    whole = None not in kept and kept == list(range(kept[0], kept[0] + len(kept)))
    assert moved(start, end, moves) == ((kept[0], kept[-1] + 1) if whole else None)


# The one edit between two texts, applied as an editor applies it in each encoding, makes
# the second: it stands between whole characters and never between a CR and its LF.
@given(TEXTS, TEXTS, st.sampled_from(ENCODINGS))
@example("é", "è", "utf-16")
@example("a\r\n", "a\r\r\n", "utf-8")
@example("😀", "😁", "utf-16")
def test_the_edit_between_two_texts(old, new, encoding):
    data = old.encode()
    edit = edit_between(LineIndex(data, encoding), data, new.encode())
    assert apply_edits(old, [edit], encoding) == new
    places = {position(old, i, encoding) for i in range(len(old) + 1) if old[i - 1 : i + 1] != "\r\n"}
    assert {(p.line, p.character) for p in (edit.range.start, edit.range.end)} <= places


# Every character boundary converts to the reference position and back, in a text indexed
# anew after an edit; the examples join or split line breaks next to a lone CR.
@given(TEXTS, st.sampled_from(ENCODINGS), st.integers(0, 40), st.integers(0, 5), TEXTS)
@example("a\rb", "utf-8", 2, 0, "\n")
@example("a\r\nb", "utf-16", 2, 1, "")
@example("a\nb", "utf-8", 1, 0, "\r")
@example("\r\r", "utf-16", 1, 0, "\n")
@example("a\r", "utf-8", 2, 0, "\n")
@example("\n", "utf-16", 0, 0, "\r")
@example("x\r\ny", "utf-8", 1, 1, "")
@example("x\r\ny", "utf-16", 0, 2, "z\r")
@example("a\r\r\nb\rc", "utf-8", 3, 3, "\r")
@example("é\r😀\r", "utf-16", 1, 1, "\n\r")
def test_line_index_after_an_edit(before, encoding, at, length, new):
    start, end = min(at, len(before)), min(at + length, len(before))
    text = before[:start] + new + before[end:]
    data = text.encode()
    index = LineIndex(before.encode(), encoding).edited(
        data, len(before[:start].encode()), len(before[:end].encode()), len(new.encode())
    )
    assert index.starts == line_starts(data)
    for i in range(len(text) + 1):
        if text[i - 1 : i + 1] == "\r\n":
            continue
        offset = len(text[:i].encode())
        assert index.position(offset) == position(text, i, encoding)
        assert index.offset(position(text, i, encoding)) == offset


# (text, where its first error stands, and how many characters wide: one, or none at a
# line break, a lone CR among them, and at the end)
DIAGNOSTICS = [
    ("a\rb: 1", 1, 0), ("a\r", 1, 0), ("a\r\nb: 1", 1, 0), ("a\n", 1, 0), ("a", 1, 0), ("a: 1\r}", 5, 1),
    ("a é: 1", 2, 1), ("a 😀", 2, 1), ('a: "😀😀" b', 9, 1), ("日本: 1 x", 7, 1), ("a: 1\r\nb: 2\r\n}", 12, 1),
    ("a: 1\r\n😀: 2 x", 13, 1),
    ("e\u0301\u0302: 1 x", 8, 1),  # combining marks are characters of their own
    ("\ufeffa: 1\n}", 6, 1),  # a byte-order mark is a character to the editor
]


@pytest.mark.parametrize("text,index,width", DIAGNOSTICS)
@pytest.mark.parametrize("encoding", ENCODINGS)
def test_diagnostic_ranges(text, index, width, encoding):
    document = opened(text, encoding)
    document.settle()
    expected = (*position(text, index, encoding), *position(text, index + width, encoding))
    assert span(diagnostics.diagnostics(document)[0].range) == expected


# Each selection range holds the next one in, and is never the same range as its parent.
@given(documents(depth=2, max_pairs=4), st.sampled_from(ENCODINGS))
@example("v: {}", "utf-16")
@example("a: 1\r\n", "utf-8")
def test_selection_ranges_nest_strictly(source, encoding):
    document = opened(source, encoding)
    places = [position(source, i, encoding) for i in range(len(source) + 1)]
    params = types.SelectionRangeParams(
        text_document=types.TextDocumentIdentifier(uri=document.uri),
        positions=[types.Position(line=line, character=character) for line, character in places],
    )
    for chain in selection.selection_ranges(document, params):
        while chain.parent is not None:
            inner, outer = span(chain.range), span(chain.parent.range)
            assert inner != outer
            assert outer[:2] <= inner[:2] and inner[2:] <= outer[2:]
            chain = chain.parent


def test_a_lane_runs_in_order_and_settles_once_after_a_burst():
    done, settled = [], []
    lane = Lane(idle=lambda: settled.append(list(done)))
    gate = threading.Event()
    lane.submit(gate.wait)
    futures = [lane.submit(lambda i=i: done.append(i)) for i in range(10)]
    skipped = lane.submit(lambda: done.append("cancelled"))
    assert skipped.cancel()
    last = lane.submit(lambda: done.append(10))
    gate.set()
    last.result(timeout=10)
    for future in futures:
        future.result(timeout=10)
    for _ in range(200):  # the idle work runs just after the last piece
        if settled:
            break
        time.sleep(0.01)
    assert done == list(range(11)) and settled == [list(range(11))]


# The server's own wiring, in process: a request queued behind a document's work is
# cancelled before it runs, and another document is answered meanwhile.
def test_cancel_and_other_documents_answered_meanwhile():
    server, sent = QuarelServer(), []
    server.protocol.set_writer(SimpleNamespace(
        write=lambda *pieces: sent.append(json.loads(b"".join(pieces).split(b"\r\n\r\n", 1)[1]))))
    ran = []

    def send(message):
        decoded = server.protocol.decode(json.dumps({"jsonrpc": "2.0", **message}).encode())
        server.protocol.handle_message(decoded)

    def hover(msg_id, uri):
        return {"id": msg_id, "method": "textDocument/hover", "params": {
            "textDocument": {"uri": uri}, "position": {"line": 0, "character": 0}}}

    async def answer(msg_id):
        for _ in range(500):
            found = [m for m in sent if m.get("id") == msg_id]
            if found:
                return found[0]
            await asyncio.sleep(0.01)
        raise AssertionError(f"no answer to {msg_id}")

    async def scenario():
        send({"id": 1, "method": "initialize", "params": {"processId": None, "capabilities": {}}})
        for uri in ("untitled:a", "untitled:b"):
            send({"method": "textDocument/didOpen", "params": {"textDocument": {
                "uri": uri, "languageId": "quarel", "version": 1, "text": "k: 1\n"}}})
        await asyncio.sleep(0.05)
        gate = threading.Event()
        server.documents.run("untitled:a", lambda document: gate.wait())
        server.documents.run("untitled:a", lambda document: ran.append("after the gate"))
        send(hover(2, "untitled:a"))
        send(hover(3, "untitled:b"))
        assert (await answer(3))["result"]["contents"]["value"].startswith("`k`")
        send({"method": "$/cancelRequest", "params": {"id": 2}})
        await asyncio.sleep(0.05)
        gate.set()
        assert (await answer(2))["error"]["code"] == -32800
        await asyncio.wrap_future(server.documents.run("untitled:a", lambda document: ran.append("later")))
        return ran

    assert asyncio.run(scenario()) == ["after the gate", "later"]


def read_all(workspace, folder):
    """Waits for the workspace's reading thread to read what was queued before: a file
    queued after it is read last."""
    marker = Path(folder) / "marker.quarel"
    marker.write_text("view: marker_read {}\n")
    workspace.changed(str(marker))
    for _ in range(500):
        if workspace.symbols("marker_read"):
            workspace.deleted(str(marker))
            marker.unlink()
            return
        time.sleep(0.01)
    raise AssertionError("the workspace did not read its files")


X = "view: x {\n  dimension: d {\n    type: number\n  }\n}\n"
Y = 'view: y {\n  dimension: e {\n    type: string\n    label: "E"\n  }\n}\n'


@pytest.fixture
def workspace():
    index = Workspace()
    yield index
    index.stop()


def test_the_index_follows_its_files(tmp_path, workspace):
    x = write(tmp_path / "a" / "x.quarel", X)
    write(tmp_path / "ab" / "y.quarel", Y)
    workspace.start([str(tmp_path / "a"), str(tmp_path / "ab")])

    def state():
        read_all(workspace, tmp_path)
        keys = workspace.keys("dimension")
        return dict(keys.used), sorted(symbol.name for symbol in workspace.symbols("view"))

    assert state() == ({"type": 2, "label": 1}, ["view x", "view y"])
    workspace.changed(str(x))  # read again as it was: nothing counts twice
    assert state() == ({"type": 2, "label": 1}, ["view x", "view y"])
    x.write_text(X.replace("type: number", "hidden: yes"))
    workspace.changed(str(x))
    assert state() == ({"type": 1, "label": 1, "hidden": 1}, ["view x", "view y"])
    workspace.forget(str(tmp_path / "a"))  # its sibling `ab` stays
    assert state() == ({"type": 1, "label": 1}, ["view y"])


def test_an_open_document_stands_for_its_file(tmp_path, workspace):
    path = write(tmp_path / "x.quarel", X)
    workspace.start([str(tmp_path)])
    read_all(workspace, tmp_path)
    document = OpenDocument(path.as_uri(), 1, X.replace("type: number", "label: L"), workspace)
    document.settle()
    workspace.show(str(path), document.uri, document.last_good, document.index)
    assert dict(workspace.keys("dimension").used) == {"label": 1}
    workspace.hide(str(path))
    read_all(workspace, tmp_path)
    assert dict(workspace.keys("dimension").used) == {"type": 1}


def text_edits(answer):
    """The protocol's TextEdit list, from the JSON the engine wrote."""
    return [get_converter().structure(edit, types.TextEdit) for edit in json.loads(answer.data)]


PIECES = ["a:1", "b :  2", " ", "  ", "\t", "\n", "\r\n", "\r", "v: x {", "}", "l: [x ,y]", "# c", '"s\r t"', "é", "😀"]


# Formatting from any editor turns the text into what `quarel fmt` makes of it, in an
# editor that ends lines only at LF and CR LF too; where that editor would count lines
# otherwise than the protocol (a lone CR), it is refused and nothing changes.
@given(st.lists(st.sampled_from(PIECES), max_size=14).map("".join), st.sampled_from(ENCODINGS))
@example("view: v {\r  label: \"Lone CR\"\r  dimension: id {\r    type: number\r  }\r}\r", "utf-16")
@example("a:1\r\nv: x {\r\n  l: [x ,y]\r\n}\r\n", "utf-8")
def test_formatting_as_an_editor_applies_it(text, encoding):
    document = opened(text, encoding)
    params = types.DocumentFormattingParams(
        text_document=types.TextDocumentIdentifier(uri=document.uri),
        options=types.FormattingOptions(tab_size=4, insert_spaces=False),
    )
    try:
        expected = format_text(text)
    except ValueError:
        expected = None
    try:
        edits = formatting.format_file(document, params)
    except JsonRpcException as e:
        assert expected is None or re.search(r"\r(?!\n)", text), e.message
        return
    assert expected is not None and not re.search(r"\r(?!\n)", text)
    assert apply_edits(text, text_edits(edits), encoding, LF_LINES) == expected

