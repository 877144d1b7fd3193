"""The server's end of the JSON-RPC connection: results too large for the protocol objects
can be handed over already serialised."""

from __future__ import annotations

import json
from typing import Any

from pygls.protocol import LanguageServerProtocol
from pygls.protocol.json_rpc import JsonRPCResponseMessage


class RawJson(str):
    """A result written as JSON text already, sent as it is: 300,000 symbols take seconds
    through the protocol objects or dicts, and a fraction of that written as text."""


class Protocol(LanguageServerProtocol):
    def _send_data(self, data: Any) -> None:
        result = getattr(data, "result", None)
        if not isinstance(data, JsonRPCResponseMessage) or not isinstance(result, RawJson):
            super()._send_data(data)
            return
        if self.writer is not None:
            body = f'{{"jsonrpc":"2.0","id":{json.dumps(data.id)},"result":{result}}}'.encode()
            self.writer.write(f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
