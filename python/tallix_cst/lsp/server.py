"""The language server: what it offers the editor, and the handlers that answer each
request from the open documents and the workspace index."""

from __future__ import annotations

import contextlib
import os
import sys
import threading
import time
from typing import Any, List, Optional, Sequence, Union

if sys.platform == "linux":
    import fcntl

from lsprotocol import types
from pygls.lsp.server import LanguageServer
from pygls.uris import to_fs_path

from tallix_cst import __version__
from tallix_cst.lsp import (
    completion,
    diagnostics,
    folding,
    formatting,
    hover,
    rename,
    selection,
)
from tallix_cst.lsp.documents import Documents, OpenDocument
from tallix_cst.lsp.protocol import Protocol, RawJson
from tallix_cst.lsp.symbols import document_symbols
from tallix_cst.lsp.tokens import LEGEND, semantic_tokens
from tallix_cst.lsp.workspace import Workspace

# How often the server looks whether the editor's process is still there.
CLIENT_WATCH_SECONDS = 2.0
QUAREL_FILES = "**/*.quarel"


class QuarelServer(LanguageServer):
    def __init__(self) -> None:
        super().__init__("quarel", __version__, protocol_cls=Protocol)
        self.documents = Documents()
        self.index = Workspace()
        self.shut_down = False
        # Until an `exit` after `shutdown`, ending is a failure.
        self.exit_status = 1

    def document(self, uri: str) -> OpenDocument:
        document = self.documents.get(uri)
        if document is None:
            raise ValueError(f"{uri}: the document is not open")
        return document

    def publish(self, document: OpenDocument) -> None:
        self.text_document_publish_diagnostics(
            types.PublishDiagnosticsParams(
                uri=document.uri,
                version=document.version,
                diagnostics=diagnostics.diagnostics(document),
            )
        )


def create_server() -> QuarelServer:
    server = QuarelServer()

    @server.feature(types.INITIALIZE)
    def initialize(params: types.InitializeParams) -> None:
        chosen = server.workspace.position_encoding or types.PositionEncodingKind.Utf16
        encoding = chosen.value if isinstance(chosen, types.PositionEncodingKind) else chosen
        server.documents.encoding = server.index.encoding = encoding
        if params.process_id is not None:
            _watch_client(params.process_id)

    @server.feature(types.INITIALIZED)
    def initialized(params: types.InitializedParams) -> None:
        server.index.start(_folders(server))
        if _can_register_watchers(server.client_capabilities):
            watcher = types.FileSystemWatcher(glob_pattern=QUAREL_FILES)
            server.client_register_capability(
                types.RegistrationParams(
                    registrations=[
                        types.Registration(
                            id="quarel-files",
                            method=types.WORKSPACE_DID_CHANGE_WATCHED_FILES,
                            register_options=types.DidChangeWatchedFilesRegistrationOptions(
                                watchers=[watcher]
                            ),
                        )
                    ]
                )
            )

    @server.feature(types.SHUTDOWN)
    def shutdown(params: Any) -> None:
        server.shut_down = True

    @server.feature(types.EXIT)
    def exit_(params: Any) -> None:
        server.exit_status = 0 if server.shut_down else 1

    @server.feature(types.TEXT_DOCUMENT_DID_OPEN)
    def did_open(params: types.DidOpenTextDocumentParams) -> None:
        item = params.text_document
        server.publish(server.documents.open(item.uri, item.version, item.text))

    @server.feature(types.TEXT_DOCUMENT_DID_CHANGE)
    def did_change(params: types.DidChangeTextDocumentParams) -> None:
        document = server.document(params.text_document.uri)
        document.change(params.text_document.version, params.content_changes)
        server.publish(document)

    @server.feature(types.TEXT_DOCUMENT_DID_CLOSE)
    def did_close(params: types.DidCloseTextDocumentParams) -> None:
        server.documents.close(params.text_document.uri)
        server.text_document_publish_diagnostics(
            types.PublishDiagnosticsParams(uri=params.text_document.uri, diagnostics=[])
        )

    @server.feature(types.TEXT_DOCUMENT_DOCUMENT_SYMBOL)
    def document_symbol(params: types.DocumentSymbolParams) -> Optional[RawJson]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        if parsed is None:
            return None
        return parsed.kept("symbols", lambda: document_symbols(parsed, document.index))

    @server.feature(types.TEXT_DOCUMENT_FOLDING_RANGE)
    def folding_range(params: types.FoldingRangeParams) -> Optional[RawJson]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        return None if parsed is None else folding.folding_ranges(parsed, document.index)

    @server.feature(types.TEXT_DOCUMENT_SELECTION_RANGE)
    def selection_range(params: types.SelectionRangeParams) -> List[types.SelectionRange]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        if parsed is None:
            return []
        return [
            selection.selection_range(parsed, document.index, _offset(document, position))
            for position in params.positions
        ]

    @server.feature(types.TEXT_DOCUMENT_HOVER)
    def hover_(params: types.HoverParams) -> Optional[types.Hover]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        if parsed is None:
            return None
        return hover.hover(parsed, document.index, _offset(document, params.position))

    @server.feature(
        types.TEXT_DOCUMENT_SEMANTIC_TOKENS_FULL,
        types.SemanticTokensRegistrationOptions(legend=LEGEND, full=True, range=True),
    )
    def tokens_full(params: types.SemanticTokensParams) -> Union[types.SemanticTokens, RawJson]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        if parsed is None:
            return types.SemanticTokens(data=[])
        return semantic_tokens(parsed, document.index)

    @server.feature(types.TEXT_DOCUMENT_SEMANTIC_TOKENS_RANGE)
    def tokens_range(
        params: types.SemanticTokensRangeParams,
    ) -> Union[types.SemanticTokens, RawJson]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        if parsed is None:
            return types.SemanticTokens(data=[])
        within = (
            _offset(document, params.range.start),
            _offset(document, params.range.end),
        )
        return semantic_tokens(parsed, document.index, within)

    @server.feature(types.TEXT_DOCUMENT_COMPLETION)
    def complete(params: types.CompletionParams) -> Optional[types.CompletionList]:
        document = server.document(params.text_document.uri)
        parsed = document.last_good
        if parsed is None:
            return None
        offset = _offset(document, params.position)
        return completion.complete_keys(parsed, offset, server.index, to_fs_path(document.uri))

    @server.feature(types.TEXT_DOCUMENT_PREPARE_RENAME)
    def prepare_rename(
        params: types.PrepareRenameParams,
    ) -> Optional[types.PrepareRenamePlaceholder]:
        document = server.document(params.text_document.uri)
        return rename.prepare_rename(document, _offset(document, params.position))

    @server.feature(types.TEXT_DOCUMENT_RENAME)
    def rename_(params: types.RenameParams) -> types.WorkspaceEdit:
        document = server.document(params.text_document.uri)
        return rename.rename(document, _offset(document, params.position), params.new_name)

    @server.feature(types.WORKSPACE_SYMBOL)
    def workspace_symbol(params: types.WorkspaceSymbolParams) -> List[types.WorkspaceSymbol]:
        return server.index.symbols(params.query)

    @server.feature(types.WORKSPACE_DID_CHANGE_WATCHED_FILES)
    def watched_files(params: types.DidChangeWatchedFilesParams) -> None:
        for change in params.changes:
            path = to_fs_path(change.uri)
            if path is None or not path.endswith(".quarel"):
                continue
            if change.type == types.FileChangeType.Deleted:
                server.index.remove(path)
            else:
                server.index.update(path)

    @server.feature(types.WORKSPACE_DID_CHANGE_WORKSPACE_FOLDERS)
    def folders_changed(params: types.DidChangeWorkspaceFoldersParams) -> None:
        for folder in params.event.removed:
            path = to_fs_path(folder.uri)
            if path is not None:
                server.index.forget(path)
        added = [to_fs_path(folder.uri) for folder in params.event.added]
        server.index.start(path for path in added if path is not None)

    formatting.register(server)
    return server


def _offset(document: OpenDocument, position: types.Position) -> int:
    return document.index.offset((position.line, position.character))


def _folders(server: QuarelServer) -> List[str]:
    folders: Sequence[str] = [folder.uri for folder in server.workspace.folders.values()]
    if not folders and server.workspace.root_uri:
        folders = [server.workspace.root_uri]
    return [path for path in map(to_fs_path, folders) if path is not None]


def _can_register_watchers(capabilities: types.ClientCapabilities) -> bool:
    watched = capabilities.workspace and capabilities.workspace.did_change_watched_files
    return bool(watched and watched.dynamic_registration)


def _watch_client(process_id: int) -> None:
    """Ends the server when the editor's process is gone. Only where a signal 0 asks
    whether a process lives (on Windows it would end the process instead), and only for a
    process seen at the start: an editor in another container's process space is not."""
    if sys.platform == "win32" or not _alive(process_id):
        return

    def watch() -> None:
        while _alive(process_id):
            time.sleep(CLIENT_WATCH_SECONDS)
        os._exit(1)

    threading.Thread(target=watch, daemon=True).start()


def _alive(process_id: int) -> bool:
    try:
        os.kill(process_id, 0)
    except ProcessLookupError:
        return False
    except PermissionError:  # there, but another user's
        pass
    return True


def serve() -> int:
    """Runs the server on standard input and output until the editor says `exit` or
    closes the stream; the exit status tells whether `shutdown` came first."""
    server = create_server()
    # The server closes its output at exit; the command's own stays open, and a stray
    # print goes to standard error rather than into the protocol.
    with os.fdopen(os.dup(0), "rb") as stdin, os.fdopen(os.dup(1), "wb") as stdout:
        with contextlib.redirect_stdout(sys.stderr):
            _widen_pipe(stdout.fileno())
            server.start_io(stdin, stdout)
    return server.exit_status


def _widen_pipe(fd: int) -> None:
    """Lets a pipe to the editor hold a megabyte rather than 64 KiB, where Linux allows
    it: the outline of a large document, tens of megabytes, then reaches the editor in
    far fewer reads."""
    if sys.platform == "linux":
        with contextlib.suppress(OSError):  # not a pipe, or more than the system allows
            fcntl.fcntl(fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)  # 1031 before 3.10
