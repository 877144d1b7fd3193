"""Deterministic benchmark inputs, built from a seed.

A configuration document is generated once as a model (pairs of a key and a
value) and then written three ways: as Quarel source, and as the equivalent
JSON and TOML, so that the peers read the same content. The degenerate
shapes are written as Quarel source directly.
"""

from __future__ import annotations

import json
import random
import re
from dataclasses import dataclass
from typing import Union


@dataclass
class Str:
    text: str


@dataclass
class Expr:
    text: str


@dataclass
class Block:
    name: str
    pairs: list[Pair]


# A list element: a bare literal, a quoted string or a (key, element) pair.
Element = Union[str, Str, tuple]
Value = Union[str, Str, Expr, list, Block]


@dataclass
class Pair:
    key: str
    value: Value
    comment: str = ""
    blank_before: bool = False


TYPES = ["number", "string", "yesno", "time", "date", "tier", "zipcode"]
WORDS = ["users", "orders", "items", "accounts", "events", "sessions", "products", "regions"]
BLOCK_KEYS = ["dimension", "measure", "dimension_group", "filter"]


def _sql(rng: random.Random, name: str) -> Expr:
    return Expr(f"${{TABLE}}.{name}_{rng.randint(0, 99)} + {rng.randint(1, 9)}")


# Keys a named block may hold, each with the way its value is drawn; a block
# takes 5 to 20 of them, without repeats, as keys are unique in the peers.
FIELDS = {
    "type": lambda rng, name: rng.choice(TYPES),
    "sql": _sql,
    "label": lambda rng, name: Str(f"{rng.choice(WORDS).title()} {name.replace('_', ' ')}"),
    "description": lambda rng, name: Str(f"Counts {rng.choice(WORDS)} per {rng.choice(WORDS)}"),
    "hidden": lambda rng, name: rng.choice(["yes", "no"]),
    "drill_fields": lambda rng, name: rng.sample(WORDS, rng.randint(1, 4)),
    "filters": lambda rng, name: [("status", Str("open")), ("tier", rng.choice(TYPES))],
    "group_label": lambda rng, name: Str(rng.choice(WORDS).title()),
    "value_format_name": lambda rng, name: rng.choice(["usd", "decimal_2", "percent_1"]),
    "primary_key": lambda rng, name: rng.choice(["yes", "no"]),
    "html": lambda rng, name: Expr(f"<b>{{{{ value }}}}</b> {rng.choice(WORDS)}"),
    "tags": lambda rng, name: [Str(w) for w in rng.sample(WORDS, rng.randint(1, 3))],
    "suggestable": lambda rng, name: rng.choice(["yes", "no"]),
    "view_label": lambda rng, name: Str(rng.choice(WORDS).title()),
    "convert_tz": lambda rng, name: rng.choice(["yes", "no"]),
    "timeframes": lambda rng, name: ["raw", "date", "week", "month", "quarter", "year"],
    "datatype": lambda rng, name: rng.choice(["date", "datetime", "epoch"]),
    "order_by_field": lambda rng, name: f"{name}_sort",
    "alias": lambda rng, name: [f"old_{name}"],
    "can_filter": lambda rng, name: rng.choice(["yes", "no"]),
    "required_fields": lambda rng, name: rng.sample(WORDS, 2),
    "sql_distinct_key": _sql,
}


def _named_block(rng: random.Random, name: str, count: int) -> Block:
    pairs = []
    for key in rng.sample(list(FIELDS), count):
        comment = f"{rng.choice(WORDS)} come from the {rng.choice(WORDS)} feed"
        pairs.append(Pair(key, FIELDS[key](rng, name), comment if rng.random() < 0.1 else ""))
    return Block(name, pairs)


def _view(rng: random.Random, number: int) -> Pair:
    pairs = [Pair("sql_table_name", Expr(f"analytics.{rng.choice(WORDS)}"))]
    for d in range(rng.randint(3, 12)):
        name = f"{rng.choice(WORDS)}_{d}"
        key = rng.choice(BLOCK_KEYS)
        pairs.append(Pair(key, _named_block(rng, name, rng.randint(5, 20)), blank_before=True))
    return Pair("view", Block(f"{rng.choice(WORDS)}_{number}", pairs), f"View {number}", True)


def config_model(size: int, seed: int = 1) -> list[Pair]:
    """Views holding named blocks of 5-20 pairs, about `size` bytes as Quarel."""
    rng = random.Random(seed)
    views: list[Pair] = []
    total = 0
    while total < size:
        views.append(_view(rng, len(views) + 1))
        total += len(to_quarel([views[-1]]))
    return views


def config_document(size: int, seed: int = 1) -> str:
    return to_quarel(config_model(size, seed))


# Quarel


def untidy_document(size: int, seed: int = 1) -> str:
    """The configuration document of about `size` bytes with its layout disordered as
    hands and pastes leave it: every line indented off its depth (in spaces or a tab), and
    spaces around colons and commas and at line ends, runs of blank lines. It means the
    same but for the spaces in strings, and formatting undoes it."""
    rng = random.Random(seed)
    lines = []
    for line in config_document(size, seed).split("\n"):
        stripped = line.lstrip(" ")
        indent = line[: len(line) - len(stripped)]
        if re.match(r"[A-Za-z_][\w.]*: ", stripped):
            stripped = stripped.replace(": ", rng.choice([":", " :  ", ":   "]), 1)
            stripped = re.sub(", ", lambda _: rng.choice([",", " , ", ",  "]), stripped)
        if stripped:
            shift = rng.choice([" ", "   ", "\t", "    "])
            line = (indent if rng.random() < 0.5 else "") + shift + stripped
            line += rng.choice(["", "", " ", "  \t"])
        lines.append(line)
        if rng.random() < 0.05:
            lines.extend([""] * rng.randint(1, 3))
    return "\n".join(lines)


def _quarel_element(e: Element) -> str:
    if isinstance(e, Str):
        return f'"{e.text}"'
    if isinstance(e, tuple):
        return f"{e[0]}: {_quarel_element(e[1])}"
    return e


def _quarel_pairs(pairs: list[Pair], indent: str, out: list[str]) -> None:
    for p in pairs:
        if p.blank_before and out:
            out.append("")
        if p.comment:
            out.append(f"{indent}# {p.comment}")
        v = p.value
        if isinstance(v, Block):
            out.append(f"{indent}{p.key}: {v.name} {{")
            _quarel_pairs(v.pairs, indent + "  ", out)
            out.append(f"{indent}}}")
        elif isinstance(v, Expr):
            out.append(f"{indent}{p.key}: {v.text} ;;")
        elif isinstance(v, list):
            out.append(f"{indent}{p.key}: [{', '.join(map(_quarel_element, v))}]")
        else:
            out.append(f"{indent}{p.key}: {_quarel_element(v)}")


def to_quarel(pairs: list[Pair]) -> str:
    out: list[str] = []
    _quarel_pairs(pairs, "", out)
    return "\n".join(out) + "\n"


# JSON and TOML: a block is an object with its name first; a block key, or a
# key that occurs more than once in a body, holds the list of its values.


def _plain(v: Value):
    if isinstance(v, Block):
        return {"name": v.name, **to_plain(v.pairs)}
    if isinstance(v, list):
        return [{e[0]: _plain(e[1])} if isinstance(e, tuple) else _plain(e) for e in v]
    return v.text if isinstance(v, (Str, Expr)) else v


def to_plain(pairs: list[Pair]) -> dict:
    grouped: dict[str, list] = {}
    for p in pairs:
        grouped.setdefault(p.key, []).append(_plain(p.value))
    return {k: vs if len(vs) > 1 or isinstance(vs[0], dict) else vs[0] for k, vs in grouped.items()}


def to_json(pairs: list[Pair]) -> str:
    return json.dumps(to_plain(pairs), indent=2)


def _toml_value(v) -> str:
    if isinstance(v, str):
        return json.dumps(v)
    if isinstance(v, dict):
        return "{ " + ", ".join(f"{k} = {_toml_value(x)}" for k, x in v.items()) + " }"
    return "[" + ", ".join(map(_toml_value, v)) + "]"


def _toml_table(pairs: list[Pair], path: str, out: list[str]) -> None:
    # Plain keys first: in TOML they cannot follow the table's sub-tables.
    for p in pairs:
        if not isinstance(p.value, Block):
            if p.comment:
                out.append(f"# {p.comment}")
            out.append(f"{p.key} = {_toml_value(_plain(p.value))}")
    # Sub-tables of one key together, as their values form one array.
    blocks = [p for p in pairs if isinstance(p.value, Block)]
    first = {}
    for i, p in enumerate(blocks):
        first.setdefault(p.key, i)
    for p in sorted(blocks, key=lambda p: first[p.key]):
        header = f"{path}.{p.key}" if path else p.key
        out += ["", *([f"# {p.comment}"] if p.comment else []), f"[[{header}]]"]
        out.append(f"name = {json.dumps(p.value.name)}")
        _toml_table(p.value.pairs, header, out)


def to_toml(pairs: list[Pair]) -> str:
    out: list[str] = []
    _toml_table(pairs, "", out)
    return "\n".join(out).lstrip("\n") + "\n"


def small_files(count: int, size: int, seed: int = 1) -> list[list[Pair]]:
    """`count` small configuration models of about `size` bytes each."""
    return [config_model(size, seed + i) for i in range(count)]


def snippet(lines: int) -> str:
    """A named block of `lines` lines, as `add_source` would be given."""
    block = _named_block(random.Random(1), "snippet", lines - 3)
    block.pairs[0].comment = "added by a tool"
    for p in block.pairs[1:]:
        p.comment = ""
    return to_quarel([Pair("dimension", block)])


# Degenerate shapes.


def long_list(count: int) -> str:
    items = (f'"item {i}"' if i % 3 == 0 else f"item_{i}" for i in range(count))
    return "values: [\n  " + ",\n  ".join(items) + "\n]\n"


def _filler(size: int, line: str) -> str:
    """Whole copies of the line, about `size` bytes."""
    return line * max(1, size // len(line))


def long_string(size: int) -> str:
    text = _filler(size, 'Counts \\"open\\" orders per region, by week.\n')
    return f'description: "{text.rstrip()}"\n'


def long_expression(size: int) -> str:
    text = _filler(size, "  CASE WHEN ${TABLE}.status = 'open' THEN 1 ELSE 0 END +\n")
    return f"sql: {text.strip()} 0 ;;\n"


def deep_nesting(depth: int) -> str:
    """Blocks nested `depth` levels deep, each level holding 500 pairs beside
    the nested block. Lines are not indented by depth, so that the size grows
    with the depth alone."""
    lines = []
    for level in range(depth):
        lines.append(f"level: n{level} {{")
        lines += [f"  key_{i}: value_{i}" for i in range(500)]
    lines += ["}"] * depth
    return "\n".join(lines) + "\n"


def flat_body(count: int) -> str:
    return "".join(f"key_{i}: value_{i}\n" for i in range(count))


# Each shape at `k` times its first size. Nesting grows in depth, 50 levels a
# step, so that the largest stays within the parser's limit of 256.
DEGENERATE = {
    "100k-element list": lambda k: long_list(100_000 * k),
    "5 MB string": lambda k: long_string(5_000_000 * k),
    "5 MB expression": lambda k: long_expression(5_000_000 * k),
    "nesting 50 deep (200 at 4×)": lambda k: deep_nesting(50 * k),
    "100k-pair flat body": lambda k: flat_body(100_000 * k),
}
