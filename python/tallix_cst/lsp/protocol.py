"""The server's end of the JSON-RPC connection: every request gets a response (the
protocol's error for a message that cannot be read, for params that do not fit the method,
before `initialize` and after `shutdown`), results too large for the protocol objects are
handed over already serialised, and open texts are kept by the server's own documents
alone."""

from __future__ import annotations

import json
import logging
from typing import Any, Dict, Generator, Optional, Tuple, Union

from lsprotocol import types
from pygls.exceptions import (
    JsonRpcException,
    JsonRpcInvalidParams,
    JsonRpcInvalidRequest,
    JsonRpcParseError,
    JsonRpcServerNotInitialized,
)
from pygls.protocol import LanguageServerProtocol
from pygls.protocol.json_rpc import JsonRPCResponseMessage, RPCRequest
from pygls.protocol.language_server import lsp_method

from tallix_cst.lsp.positions import LineIndex

Handlers = Generator[Any, Any, None]
MsgId = Union[int, str, None]
log = logging.getLogger(__name__)
# The protocol's code for a request that is valid but failed.
REQUEST_FAILED = -32803


class RawJson:
    """A result written as JSON already, in UTF-8, sent as it is: 300,000 symbols take
    seconds through the protocol objects or dicts, and a fraction of that written as text."""

    __slots__ = ("data",)

    def __init__(self, data: bytes) -> None:
        self.data = data


def request_failed(message: str) -> JsonRpcException:
    return JsonRpcException(message, REQUEST_FAILED)


def invalid_range(range_: types.Range) -> None:
    """Refuses a range that ends before it starts."""
    start, end = range_.start, range_.end
    if (end.line, end.character) < (start.line, start.character):
        raise JsonRpcInvalidParams("the range ends before it starts")


def safe_edits(index: LineIndex, what: str) -> None:
    """Refuses edits to a text with a lone carriage return. The protocol ends a line there,
    and so does the server, but many editors end lines only at LF and CR LF: they would
    apply an edit past it lines away from its place, and lose text."""
    lone = index.lone_cr()
    if lone is not None:
        line = index.position(lone)[0] + 1
        raise request_failed(
            f"no {what}: line {line} ends with a carriage return alone (CR, an old Mac line "
            "break), where editors count lines differently, so the edits could land in the "
            "wrong places; give the file LF or CR LF line breaks first"
        )


class Protocol(LanguageServerProtocol):
    started = False  # whether `initialize` has come
    stopping = False  # whether `shutdown` has

    def decode(self, body: bytes) -> Any:
        """The message in a body, or None after answering one that cannot be read with the
        protocol's error (with no id where none can be read). Safe on any thread."""
        try:
            raw = json.loads(body)
        except ValueError as e:  # not JSON, or not UTF-8
            self.reply_error(None, JsonRpcParseError(f"the message is not JSON: {e}"))
            return None
        if not isinstance(raw, dict) or raw.get("jsonrpc") != "2.0":
            self.reply_error(_id_of(raw), JsonRpcInvalidRequest("not a JSON-RPC 2.0 message"))
            return None
        try:
            return self.structure_message(raw)
        except JsonRpcException as e:
            if "method" in raw and "id" in raw:
                self.reply_error(_id_of(raw), JsonRpcInvalidParams(_invalid(raw)))
            else:
                log.error("%s: %s", raw.get("method", "a response"), e.message)
            return None

    def handle_message(self, message: Any) -> None:
        """Answers a request before `initialize`, or after `shutdown`, with the protocol's
        error, and drops a notification then (but `exit`)."""
        method = getattr(message, "method", None)
        request = isinstance(message, RPCRequest)
        if method == types.INITIALIZE and not self.stopping:
            self.started = True
        elif method != types.EXIT and (self.stopping or not self.started):
            if request:
                error: JsonRpcException = (
                    JsonRpcInvalidRequest("the server is shutting down")
                    if self.stopping
                    else JsonRpcServerNotInitialized("the server is not initialized yet")
                )
                self.reply_error(message.id, error)
            return
        elif method == types.SHUTDOWN:
            self.stopping = True  # at once: what comes after it is refused
        super().handle_message(message)

    def _execute_handler(
        self,
        msg_id: Any,
        handler: Any,
        callback: Any,
        args: Optional[Tuple[Any, ...]] = None,
        kwargs: Optional[Dict[str, Any]] = None,
    ) -> None:
        """Lets go of each handler's future once it is done: pygls keeps those of the
        notifications and of the handlers its own features call for good, and with them
        every text an editor sends."""
        super()._execute_handler(msg_id, handler, callback, args, kwargs)
        future = self._request_futures.get(msg_id)
        if future is not None:
            future.add_done_callback(lambda done: self._forget(msg_id, done))

    def _forget(self, msg_id: Any, future: Any) -> None:
        if self._request_futures.get(msg_id) is future:
            del self._request_futures[msg_id]

    def reply_error(self, msg_id: MsgId, error: JsonRpcException) -> None:
        """Answers with an error, written here: the protocol objects leave out an id that
        is null, which an error about a message whose id cannot be read must carry."""
        log.error("%s", error.message)
        body = json.dumps(
            {"jsonrpc": "2.0", "id": msg_id, "error": {"code": error.code, "message": error.message}}
        ).encode()
        if self.writer is not None:
            self.writer.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def _send_data(self, data: Any) -> None:
        result = getattr(data, "result", None)
        if not isinstance(data, JsonRPCResponseMessage) or not isinstance(result, RawJson):
            super()._send_data(data)
            return
        if self.writer is not None:
            start = f'{{"jsonrpc":"2.0","id":{json.dumps(data.id)},"result":'.encode()
            size = len(start) + len(result.data) + 1
            header = f"Content-Length: {size}\r\n\r\n".encode() if self._include_headers else b""
            # In pieces: joined, the large result would be copied once more.
            self.writer.write(header + start, result.data, b"}")  # type: ignore[call-arg]

    @lsp_method(types.EXIT)
    def lsp_exit(self, *args: Any) -> Handlers:
        """Ends the server through its own handler, which lets the loop end, rather than
        with pygls's SystemExit from inside a callback of the loop."""
        yield self.fm.features[types.EXIT], args, None

    # pygls keeps a copy of every open text by default, which would apply each keystroke
    # to a large text a second time: the handlers alone see the changes.

    @lsp_method(types.TEXT_DOCUMENT_DID_OPEN)
    def lsp_text_document__did_open(self, params: types.DidOpenTextDocumentParams) -> Handlers:
        yield self.fm.features[types.TEXT_DOCUMENT_DID_OPEN], (params,), None

    @lsp_method(types.TEXT_DOCUMENT_DID_CHANGE)
    def lsp_text_document__did_change(
        self, params: types.DidChangeTextDocumentParams
    ) -> Handlers:
        yield self.fm.features[types.TEXT_DOCUMENT_DID_CHANGE], (params,), None

    @lsp_method(types.TEXT_DOCUMENT_DID_CLOSE)
    def lsp_text_document__did_close(self, params: types.DidCloseTextDocumentParams) -> Handlers:
        yield self.fm.features[types.TEXT_DOCUMENT_DID_CLOSE], (params,), None


def _id_of(raw: object) -> MsgId:
    """A message's id, where it has one of the types an id may have."""
    msg_id = raw.get("id") if isinstance(raw, dict) else None
    return msg_id if isinstance(msg_id, (int, str)) and not isinstance(msg_id, bool) else None


def _invalid(raw: dict) -> str:  # type: ignore[type-arg]
    params: Optional[object] = raw.get("params")
    shown = json.dumps(params)
    if len(shown) > 200:
        shown = shown[:200] + "…"
    return f"{raw['method']}: the params do not fit the method: {shown}"
