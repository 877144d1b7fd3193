"""The language server as an editor meets it: `quarel lsp` started over stdio and driven
by pygls's LanguageClient.

Run: .venv/bin/python bench/lsp.py [KEYSTROKES]
     .venv/bin/python bench/lsp.py schema [KEYSTROKES]   (a document with a schema alone)
     .venv/bin/python bench/lsp.py formatting   (formatting alone; with PYTHONPATH=DIR,
     the server and client of the tallix_cst in DIR, say an earlier commit's build)

- a keystroke in the 1 MB configuration document: from sending the change to receiving
  its diagnostics, for a keystroke that keeps the text valid (inside a string) and one
  that breaks it (a stray letter at the start of a line), alternating;
- document symbols of the 10 MB document, from sending the request until the answer
  has arrived at the client, and until the client has decoded it, first and again, for
  each of three documents opened with that text;
- formatting the 1 MB document made untidy (corpus.untidy_document), from sending the
  request until the answer has arrived at the client, and until the client has decoded
  its edits, median of 3;
- workspace symbols over 10,000 small files;
- in the 10 MB document: ten keystrokes sent at once (how often its diagnostics are sent,
  and until those of the last arrive); semantic tokens cancelled as soon as asked, against
  the same answered; and a hover on a small document sent just behind a keystroke, and
  behind the whole 10 MB text sent again, against one on its own;
- and, in this process, the server's own work on each request on the 1 MB and 10 MB
  documents just parsed, best of 5: document symbols, semantic tokens and folding
  ranges, hover and selection range at the middle of the text, and completion at the
  start of the middle line.

Everything is measured once the workspace is indexed: the index is read in a thread of
the server's, beside the requests. Times are wall clock at the client, medians; the
server runs in its own process.
"""

from __future__ import annotations

import asyncio
import json
import os
import statistics
import sys
import tempfile
import time
from typing import Any, Callable, Dict, List, Optional, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
from lsprotocol import types  # noqa: E402
from pygls.lsp.client import LanguageClient  # noqa: E402
from pygls.protocol import LanguageServerProtocol  # noqa: E402
from pygls.uris import from_fs_path  # noqa: E402

from tallix_cst.lsp import completion, folding, hover, selection, symbols, tokens  # noqa: E402
from tallix_cst.lsp.documents import OpenDocument  # noqa: E402
from tallix_cst.lsp.workspace import Workspace  # noqa: E402

KEYSTROKE_BYTES = 1_000_000
SYMBOL_BYTES = 10_000_000
SYMBOL_ROUNDS = 3
UNTIDY_BYTES = 1_000_000
FILES = 10_000
FILE_BYTES = 2_000
URI = "file:///bench/document.quarel"
# A file that sorts after the others, indexed last: its block tells the index is complete.
LAST_FILE, LAST_BLOCK = "zz_last.quarel", "bench_indexed_last"


class Arrivals(LanguageServerProtocol):
    """Notes when each message has arrived whole: the client decodes its JSON with a hook
    called for every object in it, the message itself last, and the first call comes as
    soon as the body is read. Decoding a large result that way takes the client itself
    many times longer than the server takes to answer."""

    arrived: Dict[Any, float] = {}
    decoded: Dict[Any, float] = {}
    _first: Optional[float] = None

    def structure_message(self, data: Dict[str, Any]) -> Any:
        now = time.perf_counter()
        if self._first is None:
            self._first = now
        if "jsonrpc" in data:
            key = data.get("id", data.get("method"))
            self.arrived[key], self.decoded[key] = self._first, now
            self._first = None
        return super().structure_message(data)


async def start(root: str) -> LanguageClient:
    client = LanguageClient("bench", "1", protocol_cls=Arrivals)
    client.diagnosed = asyncio.Event()

    client.published = []  # (uri, version) of every diagnostics sent

    client.schema_problems = {}  # uri: how many problems of the schema's were sent last

    @client.feature(types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
    def diagnosed(params: types.PublishDiagnosticsParams) -> None:
        client.published.append((params.uri, params.version))
        client.schema_problems[params.uri] = sum(1 for d in params.diagnostics if d.code)
        client.diagnosed.set()

    await client.start_io(sys.executable, "-m", "tallix_cst", "lsp")
    await client.initialize_async(
        types.InitializeParams(
            capabilities=types.ClientCapabilities(),
            workspace_folders=[types.WorkspaceFolder(uri=from_fs_path(root), name="bench")],
        )
    )
    client.initialized(types.InitializedParams())
    return client


async def opened(client: LanguageClient, text: str, uri: str = URI) -> None:
    client.diagnosed.clear()
    client.text_document_did_open(
        types.DidOpenTextDocumentParams(
            text_document=types.TextDocumentItem(uri=uri, language_id="quarel", version=1, text=text)
        )
    )
    await client.diagnosed.wait()


async def keystrokes(client: LanguageClient, text: str, count: int, uri: str = URI) -> Dict[str, float]:
    """Milliseconds from a change to its diagnostics, by the kind of keystroke."""
    await opened(client, text, uri)
    lines = text.split("\n")
    middle = len(lines) // 2
    string_line = next(i for i in range(middle, len(lines)) if '"' in lines[i])
    inside = lines[string_line].index('"') + 1
    times: Dict[str, List[float]] = {"valid": [], "breaking": []}
    version = 1
    for _ in range(count):
        for kind, (line, character) in (("valid", (string_line, inside)), ("breaking", (middle, 0))):
            for text_, end in (("x", character), ("", character + 1)):  # type, then undo
                version += 1
                client.diagnosed.clear()
                sent = time.perf_counter()
                client.text_document_did_change(keystroke(uri, version, line, character, text_, end))
                await client.diagnosed.wait()
                if text_:
                    times[kind].append((time.perf_counter() - sent) * 1000)
    return {kind: statistics.median(values) for kind, values in times.items()}


async def document_symbols(
    client: LanguageClient, text: str, rounds: int
) -> List[Tuple[float, float]]:
    """Medians, over `rounds` documents opened with the text, of the seconds until the
    answer has arrived and until the client has decoded it, for the first request and
    the next."""
    times: List[List[Tuple[float, float]]] = [[], []]
    for round_ in range(rounds):
        uri = f"file:///bench/large{round_}.quarel"
        await opened(client, text, uri)
        for request_times in times:
            sent = time.perf_counter()
            request = client.protocol.send_request_async(
                types.TEXT_DOCUMENT_DOCUMENT_SYMBOL,
                types.DocumentSymbolParams(text_document=types.TextDocumentIdentifier(uri=uri)),
            )
            msg_id = next(reversed(client.protocol._request_futures))  # the request just sent
            await request
            request_times.append((Arrivals.arrived[msg_id] - sent, Arrivals.decoded[msg_id] - sent))
        client.text_document_did_close(
            types.DidCloseTextDocumentParams(text_document=types.TextDocumentIdentifier(uri=uri))
        )
    return [
        (statistics.median(a for a, _ in request_times), statistics.median(d for _, d in request_times))
        for request_times in times
    ]


async def formatting(client: LanguageClient, text: str, rounds: int = 3) -> Tuple[float, float]:
    """Medians of the seconds until the answer to formatting the whole text has arrived,
    and until the client has decoded it. The text is opened afresh for each round."""
    times: List[Tuple[float, float]] = []
    for round_ in range(rounds):
        uri = f"file:///bench/untidy{round_}.quarel"
        await opened(client, text, uri)
        sent = time.perf_counter()
        request = client.protocol.send_request_async(
            types.TEXT_DOCUMENT_FORMATTING,
            types.DocumentFormattingParams(
                text_document=types.TextDocumentIdentifier(uri=uri),
                options=types.FormattingOptions(tab_size=2, insert_spaces=True),
            ),
        )
        msg_id = next(reversed(client.protocol._request_futures))
        edits = await request
        times.append((Arrivals.arrived[msg_id] - sent, Arrivals.decoded[msg_id] - sent))
        assert edits, "formatting the untidy document changed nothing"
        client.text_document_did_close(
            types.DidCloseTextDocumentParams(text_document=types.TextDocumentIdentifier(uri=uri))
        )
    return statistics.median(a for a, _ in times), statistics.median(d for _, d in times)


async def formatting_only() -> None:
    with tempfile.TemporaryDirectory() as root:
        client = await start(root)
        try:
            arrived, decoded = await formatting(client, corpus.untidy_document(UNTIDY_BYTES))
            await client.shutdown_async(None)
            client.exit(None)
        finally:
            await client.stop()
    print(f"| formatting: answer arrived | 1 MB untidy | {arrived:.2f} s | ≤ 0.5 s |")
    print(f"| formatting: decoded by pygls's client | 1 MB untidy | {decoded:.2f} s | |")


def keystroke(
    uri: str, version: int, line: int, character: int, text: str = "x", end: Optional[int] = None
) -> types.DidChangeTextDocumentParams:
    """The change of a keystroke: `text` typed over the line's characters up to `end`."""
    return types.DidChangeTextDocumentParams(
        text_document=types.VersionedTextDocumentIdentifier(uri=uri, version=version),
        content_changes=[
            types.TextDocumentContentChangePartial(
                range=types.Range(
                    start=types.Position(line=line, character=character),
                    end=types.Position(line=line, character=character if end is None else end),
                ),
                text=text,
            )
        ],
    )


async def burst(client: LanguageClient, uri: str, line: int, count: int = 10) -> Tuple[int, float]:
    """Keystrokes sent one right after another: how many times the document's
    diagnostics were sent for them, and milliseconds until those of the last arrived."""
    before = len(client.published)
    sent = time.perf_counter()
    for n in range(count):
        client.text_document_did_change(keystroke(uri, 100 + n, line, n))
    while (uri, 100 + count - 1) not in client.published[before:]:
        await asyncio.sleep(0.001)
    took = (time.perf_counter() - sent) * 1000
    return sum(1 for published, _ in client.published[before:] if published == uri), took


async def timed(request: Any) -> Tuple[float, str]:
    sent = time.perf_counter()
    try:
        await request
        outcome = "answered"
    except Exception as e:  # the cancel's error
        outcome = type(e).__name__
    return (time.perf_counter() - sent) * 1000, outcome


async def cancelled_tokens(client: LanguageClient, uri: str) -> Dict[str, Tuple[float, str]]:
    """Semantic tokens of the document, answered, and cancelled just after asking."""
    params = types.SemanticTokensParams(text_document=types.TextDocumentIdentifier(uri=uri))
    answered = await timed(client.text_document_semantic_tokens_full_async(params))
    request = client.protocol.send_request_async(types.TEXT_DOCUMENT_SEMANTIC_TOKENS_FULL, params)
    msg_id = next(reversed(client.protocol._request_futures))
    client.protocol.notify(types.CANCEL_REQUEST, types.CancelParams(id=msg_id))
    return {"answered": answered, "cancelled": await timed(request)}


async def hover_behind(client: LanguageClient, large: str, text: str, line: int) -> Dict[str, float]:
    """Milliseconds a hover on a small document takes on its own, just behind a
    keystroke in the large one, and just behind the large one's whole text sent again."""
    small = "file:///bench/small.quarel"
    await opened(client, "view: small {\n  label: x\n}\n", small)
    params = types.HoverParams(
        text_document=types.TextDocumentIdentifier(uri=small), position=types.Position(line=1, character=3)
    )
    times: Dict[str, List[float]] = {"alone": [], "behind a keystroke": [], "behind the whole text": []}
    for round_ in range(5):
        times["alone"].append((await timed(client.text_document_hover_async(params)))[0])
        client.text_document_did_change(keystroke(large, 200 + 2 * round_, line, 0))
        times["behind a keystroke"].append((await timed(client.text_document_hover_async(params)))[0])
        client.text_document_did_change(
            types.DidChangeTextDocumentParams(
                text_document=types.VersionedTextDocumentIdentifier(uri=large, version=201 + 2 * round_),
                content_changes=[types.TextDocumentContentChangeWholeDocument(text=text + "#\n" * round_)],
            )
        )
        times["behind the whole text"].append((await timed(client.text_document_hover_async(params)))[0])
        await asyncio.sleep(0.5)
    return {name: statistics.median(values) for name, values in times.items()}


def in_process(text: str, repeat: int = 5) -> Dict[str, float]:
    """Seconds the server's own work on each request takes on a text just parsed, as after
    a keystroke, best of `repeat`: the requests for the whole document, and those for the
    place at the middle of the text."""
    doc = types.TextDocumentIdentifier(uri=URI)
    middle = OpenDocument(URI, 1, text, Workspace()).index.position(len(text.encode()) // 2)
    at = types.Position(line=middle[0], character=middle[1])
    # Completion where a key can stand: after the indentation of the middle line.
    line = text.split("\n")[middle[0]]
    key_at = types.Position(line=middle[0], character=len(line) - len(line.lstrip()))
    requests: Dict[str, Callable[[OpenDocument], object]] = {
        "document symbols": lambda d: symbols.document_symbols(d, types.DocumentSymbolParams(text_document=doc)),
        "semantic tokens": lambda d: tokens.full(d, types.SemanticTokensParams(text_document=doc)),
        "folding ranges": lambda d: folding.folding_ranges(d, types.FoldingRangeParams(text_document=doc)),
        "hover": lambda d: hover.hover(d, types.HoverParams(text_document=doc, position=at)),
        "selection range": lambda d: selection.selection_ranges(
            d, types.SelectionRangeParams(text_document=doc, positions=[at])
        ),
        "completion": lambda d: completion.complete(d, types.CompletionParams(text_document=doc, position=key_at)),
    }
    best = {}
    for name, request in requests.items():
        times = []
        for _ in range(repeat):
            document = OpenDocument(URI, 1, text, Workspace())
            document.settle()
            started = time.perf_counter()
            request(document)
            times.append(time.perf_counter() - started)
        best[name] = min(times)
    return best


async def indexed(client: LanguageClient) -> None:
    query = types.WorkspaceSymbolParams(query=LAST_BLOCK)
    while not await client.workspace_symbol_async(query):
        await asyncio.sleep(0.1)


async def workspace_symbols(client: LanguageClient, query: str, repeat: int = 7) -> float:
    times = []
    for _ in range(repeat):
        sent = time.perf_counter()
        await client.workspace_symbol_async(types.WorkspaceSymbolParams(query=query))
        times.append((time.perf_counter() - sent) * 1000)
    return statistics.median(times)


async def main(count: int) -> None:
    with tempfile.TemporaryDirectory() as root:
        for number, model in enumerate(corpus.small_files(FILES, FILE_BYTES)):
            with open(os.path.join(root, f"f{number:05}.quarel"), "w", encoding="utf-8") as f:
                f.write(corpus.to_quarel(model))
        with open(os.path.join(root, LAST_FILE), "w", encoding="utf-8") as f:
            f.write(f"view: {LAST_BLOCK} {{\n}}\n")
        client = await start(root)
        try:
            await indexed(client)
            strokes = await keystrokes(client, corpus.config_document(KEYSTROKE_BYTES), count)
            large = corpus.config_document(SYMBOL_BYTES)
            first, again = await document_symbols(client, large, SYMBOL_ROUNDS)
            formatted, formatted_decoded = await formatting(client, corpus.untidy_document(UNTIDY_BYTES))
            query = await workspace_symbols(client, "dimension id")
            large_uri = "file:///bench/large_keystrokes.quarel"
            await opened(client, large, large_uri)
            middle = large.count("\n") // 2
            published, burst_ms = await burst(client, large_uri, middle)
            cancel = await cancelled_tokens(client, large_uri)
            behind = await hover_behind(client, large_uri, large, middle)
            await client.shutdown_async(None)
            client.exit(None)
        finally:
            await client.stop()
    own = {size: in_process(corpus.config_document(size)) for size in (KEYSTROKE_BYTES, SYMBOL_BYTES)}
    print("| operation | input | median | required |")
    print("|---|---|---|---|")
    print(f"| keystroke to diagnostics, text stays valid | 1 MB | {strokes['valid']:.1f} ms | ≤ 50 ms |")
    print(f"| keystroke to diagnostics, text breaks | 1 MB | {strokes['breaking']:.1f} ms | ≤ 50 ms |")
    for label, (arrived, decoded) in (("first request", first), ("again", again)):
        print(f"| document symbols, {label}: answer arrived | 10 MB | {arrived:.2f} s | ≤ 1 s |")
        print(f"| document symbols, {label}: decoded by pygls's client | 10 MB | {decoded:.2f} s | |")
    print(f"| formatting: answer arrived | 1 MB untidy | {formatted:.2f} s | ≤ 0.5 s |")
    print(f"| formatting: decoded by pygls's client | 1 MB untidy | {formatted_decoded:.2f} s | |")
    print(f"| workspace symbols, `dimension id` | {FILES:,} files | {query:.1f} ms | ≤ 100 ms |")
    print(f"| 10 keystrokes sent at once: diagnostics sent {published} times, the last after | 10 MB | {burst_ms:.0f} ms | |")
    for name, (ms, outcome) in cancel.items():
        print(f"| semantic tokens, {name}: {outcome} after | 10 MB | {ms:.0f} ms | |")
    for name, ms in behind.items():
        print(f"| hover on a small document, {name} | 10 MB | {ms:.1f} ms | |")
    for size, times in own.items():
        for name, seconds in times.items():
            print(f"| {name}, in process, best of 5 | {size // 1_000_000} MB | {seconds * 1000:.0f} ms | |")


def schema_document(size: int) -> str:
    """The configuration document with a key misspelt in its first 100 blocks that have
    it, as a file being mended has: problems to find, place and move."""
    return corpus.config_document(size).replace("hidden:", "hiden:", 100)


async def requests_at(client: LanguageClient, uri: str, text: str, repeat: int = 21) -> Dict[str, float]:
    """Milliseconds, median of `repeat`, from asking to the answer, for completion where a
    key can stand in a block of the middle of the text and after a `type:` there, hover on
    that `type`, and the quick fixes of a misspelt key."""
    lines = text.split("\n")
    middle = len(lines) // 2
    type_line = next(i for i in range(middle, len(lines)) if lines[i].lstrip().startswith("type: "))
    type_at = lines[type_line].index("type: ")
    typo_line = next(i for i, line in enumerate(lines) if "hiden:" in line)
    document = types.TextDocumentIdentifier(uri=uri)

    def position(line: int, character: int) -> types.Position:
        return types.Position(line=line, character=character)

    asks: Dict[str, Callable[[], Any]] = {
        "completion of keys": lambda: client.text_document_completion_async(
            types.CompletionParams(text_document=document, position=position(type_line, type_at))),
        "completion of values": lambda: client.text_document_completion_async(
            types.CompletionParams(text_document=document, position=position(type_line, type_at + 6))),
        "hover": lambda: client.text_document_hover_async(
            types.HoverParams(text_document=document, position=position(type_line, type_at + 1))),
        "quick fixes": lambda: client.text_document_code_action_async(types.CodeActionParams(
            text_document=document, range=types.Range(start=position(typo_line, 0), end=position(typo_line, 99)),
            context=types.CodeActionContext(diagnostics=[]))),
    }
    times: Dict[str, List[float]] = {name: [] for name in asks}
    for _ in range(repeat):
        for name, ask in asks.items():
            sent = time.perf_counter()
            answer = await ask()
            times[name].append((time.perf_counter() - sent) * 1000)
            assert answer, f"{name}: no answer"
    return {name: statistics.median(values) for name, values in times.items()}


async def with_schema(count: int) -> None:
    """The figures of a document with a schema: `quarel.toml` beside it names the schema of
    bench/schema.py."""
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import schema as bench_schema

    with tempfile.TemporaryDirectory() as root:
        with open(os.path.join(root, "schema.json"), "w", encoding="utf-8") as f:
            json.dump(bench_schema.SCHEMA, f)
        with open(os.path.join(root, "quarel.toml"), "w", encoding="utf-8") as f:
            f.write('[[schema]]\npath = "schema.json"\ninclude = ["*.quarel"]\n')
        client = await start(root)
        figures: Dict[str, Dict[str, float]] = {}
        try:
            for size, rounds in ((KEYSTROKE_BYTES, count), (SYMBOL_BYTES, max(count // 4, 3))):
                uri = from_fs_path(os.path.join(root, f"large{size}.quarel"))
                text = schema_document(size)
                figures[f"{size // 1_000_000} MB"] = await keystrokes(client, text, rounds, uri)
                if size == KEYSTROKE_BYTES:
                    figures["requests"] = await requests_at(client, uri, text)
                await check_published(client, uri)
            await client.shutdown_async(None)
            client.exit(None)
        finally:
            await client.stop()
    print("| operation | input | median | required |")
    print("|---|---|---|---|")
    for size, limit in (("1 MB", "≤ 100 ms"), ("10 MB", "≤ 1 s")):
        for kind, label in (("valid", "text stays valid"), ("breaking", "text breaks")):
            print(f"| keystroke to diagnostics with the schema's, {label} | {size} | {figures[size][kind]:.1f} ms | {limit} |")
    for name, ms in figures["requests"].items():
        print(f"| {name}, until the answer arrives | 1 MB | {ms:.1f} ms | ≤ 50 ms |")


async def check_published(client: LanguageClient, uri: str) -> None:
    """That the problems were among the diagnostics: the bench measured what it means to."""
    assert any(u == uri for u, _ in client.published), "no diagnostics"
    assert client.schema_problems.get(uri), "the schema's problems were not shown"


if __name__ == "__main__":
    if sys.argv[1:2] == ["schema"]:
        asyncio.run(with_schema(int(sys.argv[2]) if len(sys.argv) > 2 else 20))
    elif sys.argv[1:] == ["formatting"]:
        asyncio.run(formatting_only())
    else:
        asyncio.run(main(int(sys.argv[1]) if len(sys.argv) > 1 else 20))
