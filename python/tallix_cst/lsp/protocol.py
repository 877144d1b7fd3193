"""The server's end of the JSON-RPC connection: results too large for the protocol objects
can be handed over already serialised, and open texts are kept by the server's own
documents alone."""

from __future__ import annotations

import json
from typing import Any, Generator

from lsprotocol import types
from pygls.protocol import LanguageServerProtocol
from pygls.protocol.json_rpc import JsonRPCResponseMessage
from pygls.protocol.language_server import lsp_method

Handlers = Generator[Any, Any, None]


class RawJson:
    """A result written as JSON already, in UTF-8, sent as it is: 300,000 symbols take
    seconds through the protocol objects or dicts, and a fraction of that written as text."""

    __slots__ = ("data",)

    def __init__(self, data: bytes) -> None:
        self.data = data


class Protocol(LanguageServerProtocol):
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
            for piece in (header + start, result.data, b"}"):
                self.writer.write(piece)

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
