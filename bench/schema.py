"""Schemas: unwrap() of the 10 MB configuration document beside json.loads of the same
content as JSON, validate() of the 1 MB one against a realistic schema, and the two
validators the project chose between (`.venv/bin/python bench/schema.py [MB]`).

Times are medians of alternating rounds (run.median_times); the ratios compare figures
of the same run.
"""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

import corpus  # noqa: E402
from run import median_times  # noqa: E402

import tallix_cst  # noqa: E402
from tallix_cst.schema.check import text_problems  # noqa: E402

FLAG = {"type": "boolean"}
TEXT = {"type": "string"}
WORDS = {"type": "array", "items": TEXT}
FIELD = {
    "type": "object",
    "additionalProperties": False,
    "properties": {
        "type": {"enum": corpus.TYPES},
        "sql": TEXT, "label": TEXT, "description": TEXT, "group_label": TEXT, "view_label": TEXT,
        "html": TEXT, "order_by_field": TEXT, "sql_distinct_key": TEXT,
        "hidden": FLAG, "primary_key": FLAG, "suggestable": FLAG, "convert_tz": FLAG, "can_filter": FLAG,
        "drill_fields": WORDS, "tags": WORDS, "timeframes": WORDS, "alias": WORDS, "required_fields": WORDS,
        "filters": {"type": "object", "additionalProperties": TEXT},
        "value_format_name": {"enum": ["usd", "decimal_2", "percent_1"]},
        "datatype": {"enum": ["date", "datetime", "epoch"]},
    },
}
SCHEMA = {
    "type": "object",
    "additionalProperties": False,
    "properties": {"view": {"additionalProperties": {"$ref": "#/$defs/view"}}},
    "$defs": {
        "field": FIELD,
        "view": {
            "type": "object",
            "additionalProperties": False,
            "required": ["sql_table_name"],
            "properties": {
                "sql_table_name": TEXT,
                **{key: {"additionalProperties": {"$ref": "#/$defs/field"}} for key in corpus.BLOCK_KEYS},
            },
        },
    },
}


def main(mb: float) -> None:
    schema = tallix_cst.Schema(SCHEMA)
    source = corpus.config_document(int(mb * 1_000_000))
    doc = tallix_cst.parse_quarel(source)
    as_cli_json = json.dumps(doc.to_data(), indent=2)  # what `quarel json` prints
    plain_json = json.dumps(doc.unwrap())
    unwrap, unwrap_schema, loads_cli, loads_plain = median_times([
        doc.unwrap, lambda: doc.unwrap(schema), lambda: json.loads(as_cli_json), lambda: json.loads(plain_json)])
    print(f"{len(source) / 1e6:.1f} MB of Quarel; `quarel json` text {len(as_cli_json) / 1e6:.1f} MB, "
          f"unwrap() as JSON {len(plain_json) / 1e6:.1f} MB")
    print(f"unwrap()        {unwrap * 1000:7.1f} ms  {unwrap / loads_cli:.2f}x json.loads of `quarel json`, "
          f"{unwrap / loads_plain:.2f}x json.loads of its own JSON")
    print(f"unwrap(schema)  {unwrap_schema * 1000:7.1f} ms  {unwrap_schema / loads_cli:.2f}x, {unwrap_schema / loads_plain:.2f}x")
    print(f"json.loads      {loads_cli * 1000:7.1f} ms (`quarel json`), {loads_plain * 1000:.1f} ms (unwrap()'s JSON)")

    data_bytes = source.encode()
    plain_check, schema_check = median_times([lambda: text_problems(data_bytes), lambda: text_problems(data_bytes, schema)])
    print(f"what `quarel check` reports of 10 MB: {plain_check * 1000:.0f} ms for syntax alone, "
          f"{schema_check * 1000:.0f} ms with the schema ({schema_check / plain_check:.2f}x)")

    small = tallix_cst.parse_quarel(corpus.config_document(1_000_000))
    assert small.validate(schema) == [], small.validate(schema)[:3]
    data = small.unwrap(schema)
    # A typo in every view: the problems are found and placed too.
    typos = tallix_cst.parse_quarel(corpus.config_document(1_000_000).replace("hidden:", "hiden:"))
    validate, validate_typos, unwrap_small, rs = median_times([
        lambda: small.validate(schema), lambda: typos.validate(schema), lambda: small.unwrap(schema),
        lambda: schema.is_valid(data)], repeat=7)
    count = len(typos.validate(schema))
    print(f"validate() of 1 MB: {validate * 1000:.1f} ms (unwrap(schema) {unwrap_small * 1000:.1f} ms, "
          f"jsonschema-rs {rs * 1000:.1f} ms); with {count} misspelt keys {validate_typos * 1000:.1f} ms")
    try:
        import jsonschema
    except ImportError:
        return
    python = jsonschema.validators.validator_for(SCHEMA)(SCHEMA)
    (pure,) = median_times([lambda: python.is_valid(data)], repeat=3)
    print(f"the same data checked by jsonschema {pure * 1000:.0f} ms, by jsonschema-rs {rs * 1000:.2f} ms: "
          f"{pure / rs:.0f}x")


if __name__ == "__main__":
    main(float(sys.argv[1]) if len(sys.argv) > 1 else 10)
