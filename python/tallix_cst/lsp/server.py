"""The language server: the one table of what it answers and which handler answers it,
and the session around them (starting, opening and closing documents, ending).

Every document's work runs on a lane of its own (`lanes.py`), in the order the editor
sent it; the thread that reads the editor's messages only hands them out, so that it reads
a cancel, or the next request for another document, while a large document is still being
worked on. A request cancelled before its answer is ready is answered `RequestCancelled`.
"""

from __future__ import annotations

import asyncio
import contextlib
import logging
import os
import sys
import threading
import time
from concurrent.futures import Future
from typing import Any, BinaryIO, Callable, Dict, List, NamedTuple, Optional, Sequence, Set

if sys.platform == "linux":
    import fcntl

from lsprotocol import types
from pygls.exceptions import JsonRpcInvalidParams, JsonRpcParseError
from pygls.lsp.server import LanguageServer
from pygls.uris import to_fs_path

from tallix_cst import __version__
from tallix_cst.config import FILES
from tallix_cst.lsp import (
    completion,
    diagnostics,
    folding,
    formatting,
    hover,
    quick_fixes,
    rename,
    selection,
    symbols,
    tokens,
)
from tallix_cst.lsp.documents import Documents, NotOpen, OpenDocument
from tallix_cst.lsp.lanes import Lane
from tallix_cst.lsp.protocol import Protocol
from tallix_cst.lsp.stream import FramingError, MessageReader, Writer
from tallix_cst.lsp.workspace import Workspace

# How often the server looks whether the editor's process is still there.
CLIENT_WATCH_SECONDS = 2.0
# How long `shutdown` waits for the requests before it to be answered.
SHUTDOWN_SECONDS = 10.0
QUAREL_FILES = "**/*.quarel"
# What the server is told of when it changes: the files, and what their schemas are
# found by and read from.
WATCHED = [QUAREL_FILES, *(f"**/{name}" for name in FILES), "**/*.json"]


def _change(document: OpenDocument, params: types.DidChangeTextDocumentParams) -> None:
    document.change(params.text_document.version, params.content_changes)


def _saved(document: OpenDocument, params: types.DidSaveTextDocumentParams) -> None:
    if document.path is not None:  # the index reads the file as saved, for after it closes
        document.workspace.changed(document.path)


def _files_changed(workspace: Workspace, params: types.DidChangeWatchedFilesParams) -> None:
    schemas_changed = False
    for change in params.changes:
        path = to_fs_path(change.uri)
        if path is None:
            continue
        if os.path.basename(path) in FILES or path.endswith(".json"):
            schemas_changed = True  # a schema, a file one refers to, or a configuration
        if not path.endswith(".quarel"):
            continue
        if change.type == types.FileChangeType.Deleted:
            workspace.deleted(path)
        else:
            workspace.changed(path)
    if schemas_changed:
        workspace.schemas.forget()
        workspace.schemas_changed()


def _folders_changed(
    workspace: Workspace, params: types.DidChangeWorkspaceFoldersParams
) -> None:
    for folder in params.event.removed:
        path = to_fs_path(folder.uri)
        if path is not None:
            workspace.forget(path)
    added = [to_fs_path(folder.uri) for folder in params.event.added]
    workspace.start(path for path in added if path is not None)


def _workspace_symbols(
    workspace: Workspace, params: types.WorkspaceSymbolParams
) -> List[types.WorkspaceSymbol]:
    return workspace.symbols(params.query)


# Where a handler runs, and what it takes beside the params.
DOCUMENT = "document"  # the open document the params name, on that document's lane
WORKSPACE = "workspace"  # the workspace, on the workspace's lane
AT_ONCE = "at once"  # the workspace, on the thread that reads messages: it only queues work


class On(NamedTuple):
    handler: Callable[[Any, Any], Any]
    where: str = DOCUMENT
    options: Any = None


# Every method the server answers but those of the session (in QuarelServer below).
HANDLERS: Dict[str, On] = {
    types.TEXT_DOCUMENT_DID_CHANGE: On(_change),
    types.TEXT_DOCUMENT_DID_SAVE: On(_saved, options=types.SaveOptions(include_text=False)),
    types.TEXT_DOCUMENT_DOCUMENT_SYMBOL: On(symbols.document_symbols),
    types.TEXT_DOCUMENT_FOLDING_RANGE: On(folding.folding_ranges),
    types.TEXT_DOCUMENT_SELECTION_RANGE: On(selection.selection_ranges),
    types.TEXT_DOCUMENT_HOVER: On(hover.hover),
    types.TEXT_DOCUMENT_SEMANTIC_TOKENS_FULL: On(tokens.full, options=tokens.OPTIONS),
    types.TEXT_DOCUMENT_SEMANTIC_TOKENS_RANGE: On(tokens.in_range),
    types.TEXT_DOCUMENT_COMPLETION: On(
        completion.complete, options=types.CompletionOptions(trigger_characters=[":", "[", ","])
    ),
    types.TEXT_DOCUMENT_CODE_ACTION: On(
        quick_fixes.code_actions, options=types.CodeActionOptions(code_action_kinds=[quick_fixes.QUICKFIX])
    ),
    types.TEXT_DOCUMENT_PREPARE_RENAME: On(rename.prepare_rename),
    types.TEXT_DOCUMENT_RENAME: On(rename.rename),
    types.TEXT_DOCUMENT_FORMATTING: On(formatting.format_file),
    types.TEXT_DOCUMENT_RANGE_FORMATTING: On(formatting.format_range),
    types.WORKSPACE_SYMBOL: On(_workspace_symbols, WORKSPACE),
    types.WORKSPACE_DID_CHANGE_WATCHED_FILES: On(_files_changed, AT_ONCE),
    types.WORKSPACE_DID_CHANGE_WORKSPACE_FOLDERS: On(_folders_changed, AT_ONCE),
}


class QuarelServer(LanguageServer):
    def __init__(self) -> None:
        super().__init__("quarel", __version__, protocol_cls=Protocol)
        self.index = Workspace()
        self.documents = Documents(self.index, self._settled)
        self.index.schemas_changed = lambda: self.documents.each(OpenDocument.recheck)
        self._workspace_lane = Lane()
        self._ended: Optional[asyncio.Future[None]] = None  # set by `serve`'s loop
        self._answering: Set[asyncio.Future[Any]] = set()  # the handlers' work under way
        # Until an `exit` after `shutdown`, ending is a failure.
        self.exit_status = 1
        for method, on in HANDLERS.items():
            self.feature(method, on.options)(self._answer(on))
        session: Dict[str, Callable[[Any], Any]] = {
            types.INITIALIZE: self._initialize,
            types.INITIALIZED: self._initialized,
            types.SHUTDOWN: self._shutdown,
            types.EXIT: self._exit,
            types.TEXT_DOCUMENT_DID_OPEN: self._open,
            types.TEXT_DOCUMENT_DID_CLOSE: self._close,
            types.WORKSPACE_DID_CHANGE_CONFIGURATION: self._configured,
        }
        for method, handler in session.items():
            self.feature(method)(_function(handler))

    def _answer(self, on: On) -> Callable[[Any], Any]:
        """The coroutine pygls runs for a method: it waits for the handler on its lane, and
        is cancelled, with the work if it has not started, by `$/cancelRequest`."""

        async def answer(params: Any) -> Any:
            future: Future[Any]
            if on.where == AT_ONCE:
                return on.handler(self.index, params)
            if on.where == WORKSPACE:
                future = self._workspace_lane.submit(lambda: on.handler(self.index, params))
            else:
                try:
                    future = self.documents.run(
                        params.text_document.uri, lambda document: on.handler(document, params)
                    )
                except NotOpen as e:
                    raise JsonRpcInvalidParams(str(e)) from None
            waiting = asyncio.wrap_future(future)
            self._answering.add(waiting)
            waiting.add_done_callback(self._answering.discard)
            return await waiting

        return answer

    def _settled(self, document: OpenDocument) -> None:
        """Once nothing more is queued for a document: its newest text parsed, its errors
        sent, and its file in the index as the editor has it."""
        if document.closed:
            return
        document.settle()
        last_good = document.last_good
        if document.parses and document.path is not None and last_good is not document.indexed:
            assert last_good is not None
            self.index.show(document.path, document.uri, last_good, document.index)
            document.indexed = last_good
        if not document.published:
            document.published = True
            self.text_document_publish_diagnostics(
                types.PublishDiagnosticsParams(
                    uri=document.uri,
                    version=document.version,
                    diagnostics=diagnostics.diagnostics(document),
                )
            )

    def _initialize(self, params: types.InitializeParams) -> None:
        chosen = self.workspace.position_encoding or types.PositionEncodingKind.Utf16
        encoding = chosen.value if isinstance(chosen, types.PositionEncodingKind) else chosen
        self.index.encoding = encoding
        self.index.configure(params.initialization_options)
        text_document = params.capabilities.text_document
        folding_range = text_document and text_document.folding_range
        if folding_range and folding_range.range_limit is not None:
            self.index.folding_limit = folding_range.range_limit
        completion_item = text_document and text_document.completion and text_document.completion.completion_item
        self.index.snippets = bool(completion_item and completion_item.snippet_support)
        formats = completion_item and completion_item.documentation_format
        self.index.markdown = bool(formats and types.MarkupKind.Markdown in formats)
        if params.process_id is not None:
            _watch_client(params.process_id)

    async def _initialized(self, params: types.InitializedParams) -> None:
        self.index.start(_folders(self))
        if _can_register_watchers(self.client_capabilities):
            watchers = [types.FileSystemWatcher(glob_pattern=glob) for glob in WATCHED]
            self.client_register_capability(
                types.RegistrationParams(
                    registrations=[
                        types.Registration(
                            id="quarel-files",
                            method=types.WORKSPACE_DID_CHANGE_WATCHED_FILES,
                            register_options=types.DidChangeWatchedFilesRegistrationOptions(
                                watchers=watchers
                            ),
                        )
                    ]
                )
            )
        await self.pull_settings()

    async def _configured(self, params: types.DidChangeConfigurationParams) -> None:
        """Takes the settings sent; an editor that sends none of them is asked for them."""
        settings = params.settings
        if isinstance(settings, dict) and {"quarel", "format", "schemas"} & set(settings):
            self.index.configure(settings)
        else:
            await self.pull_settings()

    async def pull_settings(self) -> None:
        """Asks an editor that answers `workspace/configuration` for the settings under
        `quarel`; an editor that fails to answer leaves them as they were."""
        workspace = self.client_capabilities.workspace
        if not (workspace and workspace.configuration):
            return
        try:
            found = await self.workspace_configuration_async(
                types.ConfigurationParams(items=[types.ConfigurationItem(section="quarel")])
            )
        except Exception:  # noqa: BLE001 - any failure of the editor's: nothing to take
            logging.getLogger(__name__).warning("the editor did not give its settings")
            return
        if found:
            self.index.configure(found[0])

    async def _shutdown(self, params: Any) -> None:
        """Answers once every request before it is answered, so that an editor that exits
        at the answer has had them all."""
        await self._answered()
        await asyncio.to_thread(self.index.stop)

    async def _answered(self) -> None:
        """Waits, SHUTDOWN_SECONDS at most, for every request come so far to be answered."""
        if self._answering:
            await asyncio.wait(list(self._answering), timeout=SHUTDOWN_SECONDS)

    async def _exit(self, params: Any) -> None:
        assert isinstance(self.protocol, Protocol)
        self.exit_status = 0 if self.protocol.stopping else 1
        await self.finish()

    async def finish(self) -> None:
        """Answers the requests that came before `exit` or the end of the stream (within
        SHUTDOWN_SECONDS), then ends."""
        await self._answered()
        self._end()

    def _end(self) -> None:
        """Ends the loop of `serve`."""
        if self._ended is not None and not self._ended.done():
            self._ended.set_result(None)

    # Opening and closing are coroutines as the handlers are: pygls starts coroutines in
    # the order their messages came, and a plain function would run ahead of them.

    async def _open(self, params: types.DidOpenTextDocumentParams) -> None:
        self.documents.open(params.text_document)

    async def _close(self, params: types.DidCloseTextDocumentParams) -> None:
        uri = params.text_document.uri

        def closed(document: OpenDocument) -> None:
            if document.path is not None:
                self.index.hide(document.path)
            self.text_document_publish_diagnostics(
                types.PublishDiagnosticsParams(uri=uri, diagnostics=[])
            )

        self.documents.close(uri, closed)


def _function(method: Callable[[Any], Any]) -> Callable[[Any], Any]:
    """A function that calls a bound method, as pygls marks the functions it registers."""
    if asyncio.iscoroutinefunction(method):

        async def call_async(params: Any) -> Any:
            return await method(params)

        return call_async

    def call(params: Any) -> Any:
        return method(params)

    return call


def create_server() -> QuarelServer:
    return QuarelServer()


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
    # print goes to standard error rather than into the protocol. Its input is left to
    # the thread that reads it: closing it would wait for that thread's read to end.
    stdin = os.fdopen(os.dup(0), "rb")
    with os.fdopen(os.dup(1), "wb") as stdout:
        with contextlib.redirect_stdout(sys.stderr):
            _widen_pipe(stdout.fileno())
            writer = Writer(stdout)
            server.protocol.set_writer(writer)
            asyncio.run(_serve(server, stdin))
            writer.close()
    return server.exit_status


async def _serve(server: QuarelServer, stdin: BinaryIO) -> None:
    """Hands each message to the protocol on this loop, as a thread of its own reads them,
    until `exit` or the end of the stream."""
    loop = asyncio.get_running_loop()
    server._ended = loop.create_future()
    protocol = server.protocol
    assert isinstance(protocol, Protocol)

    def read() -> None:
        reader = MessageReader(stdin)
        while True:
            try:
                item = reader.next()
            except (OSError, ValueError):  # the stream is gone
                item = None
            if item is None:
                loop.call_soon_threadsafe(lambda: loop.create_task(server.finish()))
                return
            if isinstance(item, FramingError):
                message = f"{item.message}; reading goes on at the next message"
                protocol.reply_error(None, JsonRpcParseError(message))
                continue
            message = protocol.decode(item)  # here: a large text takes a while to decode
            if message is not None:
                loop.call_soon_threadsafe(protocol.handle_message, message)

    threading.Thread(target=read, daemon=True).start()
    await server._ended


def _widen_pipe(fd: int) -> None:
    """Lets a pipe to the editor hold a megabyte rather than 64 KiB, where Linux allows
    it: the outline of a large document, tens of megabytes, then reaches the editor in
    far fewer reads."""
    if sys.platform == "linux":
        with contextlib.suppress(OSError):  # not a pipe, or more than the system allows
            fcntl.fcntl(fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)  # 1031 before 3.10
