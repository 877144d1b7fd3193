"""The language server over its byte stream, with nothing but the standard library on
the client's side, on every interpreter: each malformed message is answered with the
protocol's error and the server reads on; special files in the workspace never hold it up.
Each run of the server has a time limit and fails with a message past it."""

from __future__ import annotations

import io
import json
import os
import re
import subprocess
import sys
import threading
import time

import pytest

from tallix_cst.lsp.stream import MAX_MESSAGE, FramingError, MessageReader

SERVER = [sys.executable, "-m", "tallix_cst", "lsp", "--stdio"]
LIMIT = f"a message of 1000000000000 bytes is over the limit of {MAX_MESSAGE:,} bytes"

# (bytes on the stream, what the reader gives for each message until the end)
FRAMES = {
    "one message": (b"Content-Length: 2\r\n\r\n{}", [b"{}"]),
    "other headers and blank lines before": (b"\r\nContent-Type: x\r\ncontent-length:  2 \r\n\r\n{}", [b"{}"]),
    "a length that is no number": (b"Content-Length: abc\r\n\r\n{}Content-Length: 2\r\n\r\n[]",
                                   [FramingError("Content-Length `abc` is not a number"), b"[]"]),
    "an absurd length": (b"Content-Length: 1000000000000\r\n\r\n{}\nContent-Length: 2\r\n\r\n[]", [FramingError(LIMIT), b"[]"]),
    "no length": (b"Content-Type: x\r\n\r\n{}Content-Length: 2\r\n\r\n[]",
                  [FramingError("a message without a Content-Length header"), b"[]"]),
    "a header line too long": (b"X" * 5000 + b"\r\n\r\nContent-Length: 2\r\n\r\n[]",
                               [FramingError("a header line longer than 4096 bytes"), b"[]"]),
    "the next header across a long line": (b"Content-Length: x\r\n\r\n" + b"y" * 4090 + b"Content-Length: 1\r\n\r\n1",
                                           [FramingError("Content-Length `x` is not a number"), b"1"]),
    "the stream ends in a body": (b"Content-Length: 5\r\n\r\n{}", []),
}


@pytest.mark.parametrize("stream, expected", FRAMES.values(), ids=FRAMES.keys())
def test_framing(stream, expected):
    reader = MessageReader(io.BufferedReader(io.BytesIO(stream)))
    found = []
    while (item := reader.next()) is not None:
        found.append(item)
    assert found == expected


def frame(message):
    body = message if isinstance(message, bytes) else json.dumps({"jsonrpc": "2.0", **message}).encode()
    return b"Content-Length: %d\r\n\r\n%s" % (len(body), body)


class Session:
    """The server in a process of its own, its messages read on a thread."""

    def __init__(self, root=None):
        self.process = subprocess.Popen(SERVER, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.received = []
        self._arrived = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        folders = [] if root is None else [{"uri": f"file://{root}", "name": "w"}]
        self.send({"id": "init", "method": "initialize", "params": {
            "processId": None, "capabilities": {}, "workspaceFolders": folders}})
        self.answer("init")
        self.send({"method": "initialized", "params": {}})

    def _read(self):
        out = self.process.stdout
        while True:
            length = None
            while (line := out.readline()).strip():
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
            if not line or length is None:
                return
            with self._arrived:
                self.received.append(json.loads(out.read(length)))
                self._arrived.notify_all()

    def send(self, *messages):
        self.process.stdin.write(b"".join(m if isinstance(m, bytes) and m.startswith(b"Content") else frame(m) for m in messages))
        self.process.stdin.flush()

    def answer(self, msg_id, seconds=20):
        """The answer to a request, waited for SECONDS at most."""
        deadline = time.monotonic() + seconds
        with self._arrived:
            while True:
                found = [m for m in self.received if m.get("id") == msg_id and "method" not in m]
                if found:
                    return found[0]
                if not self._arrived.wait(deadline - time.monotonic()) and time.monotonic() > deadline:
                    raise AssertionError(f"no answer to {msg_id!r} within {seconds} s")

    def end(self):
        self.send({"id": "bye", "method": "shutdown"})
        self.answer("bye")
        self.send({"method": "exit"})
        try:
            return self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError("the server did not exit within 20 s") from None
        finally:
            self.process.stdin.close()


URI = "file:///open/doc.quarel"


def hover(msg_id, line=0, character=0):
    return {"id": msg_id, "method": "textDocument/hover", "params": {
        "textDocument": {"uri": URI}, "position": {"line": line, "character": character}}}


# (what the editor sends, the error code each request is answered with)
ODD = {
    "hover without params": ({"id": 1, "method": "textDocument/hover"}, -32602),
    "a line of -1": (hover(2, -1), -32602),
    "a line of 2**31": (hover(3, 2**31), -32602),
    "tabSize -4": ({"id": 4, "method": "textDocument/formatting", "params": {
        "textDocument": {"uri": URI}, "options": {"tabSize": -4, "insertSpaces": True}}}, -32602),
    "a range that ends before it starts": ({"id": 5, "method": "textDocument/rangeFormatting", "params": {
        "textDocument": {"uri": URI}, "options": {"tabSize": 2, "insertSpaces": True},
        "range": {"start": {"line": 1, "character": 0}, "end": {"line": 0, "character": 0}}}}, -32602),
    "a document never opened": ({"id": 6, "method": "textDocument/documentSymbol", "params": {
        "textDocument": {"uri": "file:///nowhere.quarel"}}}, -32602),
    "an unknown method": ({"id": 7, "method": "textDocument/unknown", "params": {}}, -32601),
    "a message that is not JSON": (b'{"jsonrpc": "2.0", "id": 8, ', -32700),
    "JSON that is no JSON-RPC": ([1, 2], -32600),
    "Content-Length: abc": (b"Content-Length: abc\r\n\r\n" + json.dumps({"id": 9}).encode(), -32700),
}


@pytest.fixture(scope="module")
def session():
    session = Session()
    session.send({"method": "textDocument/didOpen", "params": {"textDocument": {
        "uri": URI, "languageId": "quarel", "version": 1, "text": "a: 1\n"}}})
    yield session
    assert session.end() == 0


@pytest.mark.parametrize("message, code", ODD.values(), ids=ODD.keys())
def test_every_request_is_answered(session, message, code):
    with session._arrived:
        session.received.clear()
    session.send(json.dumps(message).encode() if isinstance(message, list) else message, hover("after"))
    msg_id = message.get("id") if isinstance(message, dict) else None
    error = session.answer(msg_id)["error"]
    assert error["code"] == code, error
    assert session.answer("after")["result"]["contents"]["value"].startswith("`a`")  # it reads on


def test_before_initialize_and_after_shutdown():
    process = subprocess.run(SERVER, input=frame(hover(1)) + frame({"id": 2, "method": "shutdown"}) + frame(
        {"method": "exit"}), capture_output=True, timeout=30)
    replies = [json.loads(body) for body in re.split(rb"Content-Length: \d+\r\n\r\n", process.stdout)[1:]]
    assert [(r["id"], r["error"]["code"]) for r in replies] == [(1, -32002), (2, -32002)]
    assert process.returncode == 1  # exit with no shutdown
    session = Session()
    session.send({"id": "down", "method": "shutdown"}, hover("late"))
    assert session.answer("late")["error"]["code"] == -32600
    session.send({"method": "exit"})
    assert session.process.wait(timeout=20) == 0


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="no named pipes here")
def test_special_files_hold_up_nothing(tmp_path):
    """A named pipe in the workspace, found by the index and named by the editor, and a
    file that vanishes: requests are answered all the same."""
    (tmp_path / "a.quarel").write_text("view: a {}\n")
    os.mkfifo(tmp_path / "pipe.quarel")
    session = Session(tmp_path)
    session.send({"method": "workspace/didChangeWatchedFiles", "params": {"changes": [
        {"uri": f"file://{tmp_path}/pipe.quarel", "type": 2}, {"uri": f"file://{tmp_path}/gone.quarel", "type": 1}]}})
    session.send({"method": "textDocument/didOpen", "params": {"textDocument": {
        "uri": URI, "languageId": "quarel", "version": 1, "text": "a: 1\n"}}})
    session.send(hover("hover"), {"id": "symbols", "method": "workspace/symbol", "params": {"query": "view"}})
    assert "result" in session.answer("hover", seconds=10)
    assert "result" in session.answer("symbols", seconds=10)
    assert session.end() == 0
