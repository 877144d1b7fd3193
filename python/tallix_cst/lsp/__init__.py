"""The language server of `quarel lsp`: diagnostics, outline, folding, hover, highlighting,
completion, rename and workspace symbols for every editor that speaks the protocol."""
