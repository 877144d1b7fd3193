"""`quarel lsp`: the language server, started on standard input and output."""

from __future__ import annotations

import argparse


def cmd_lsp(args: argparse.Namespace) -> int:
    from tallix_cst.lsp.server import serve  # the protocol's libraries load for this alone

    return serve()
