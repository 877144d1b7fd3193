"""Closed objects, and one interpreter at a time.

That the wheel is the one abi3 build is checked by `make check` (its tag, abi3audit),
and tests/matrix.sh runs this suite on that very wheel.
"""

import sys
import weakref

import pytest

from tallix_cst import parse_quarel


@pytest.mark.parametrize("obj", [parse_quarel("a: b"), parse_quarel("a: b").children[0]], ids=["Document", "Pair"])
def test_objects_take_no_attributes_or_weak_references(obj):
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(AttributeError):
        obj.to_string = None
    with pytest.raises(TypeError):
        weakref.ref(obj)


SUBINTERPRETER_REFUSAL = (
    "ImportError: tallix_cst cannot be imported in a subinterpreter: "
    "it is already loaded in another interpreter of this process"
)


@pytest.mark.parametrize("module", ["tallix_cst", "tallix_cst._native"])
def test_second_interpreter_is_refused(module, tmp_path):
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("no subinterpreters here")
    outcome = tmp_path / "outcome"
    code = f"""
import sys
sys.path[:0] = {sys.path!r}
try:
    import {module}
    text = "imported"
except ImportError as e:
    text = f"ImportError: {{e}}"
with open({str(outcome)!r}, "w") as f:
    f.write(text)
"""
    assert testcapi.run_in_subinterp(code) == 0
    assert outcome.read_text() == SUBINTERPRETER_REFUSAL
    assert parse_quarel("a: b").to_string() == "a: b"


def test_name_tables_are_the_engines():
    """The package's typed names follow the engine's tables, which set their order."""
    from typing import get_args

    from tallix_cst import _native, values

    assert _native.KINDS == ("literal", "string", "expr", "list", "block")
    assert get_args(values.Kind) == _native.KINDS
    assert get_args(values.TokenKind) == _native.TOKEN_KINDS
    assert [name for name, _ in _native.FORMAT_OPTIONS] == list(values.FormatOptions.__annotations__)
    assert dict(_native.FORMAT_OPTIONS) == {
        "indent": None, "newline": None, "max_blank_lines": 1, "column_width": 100,
        "final_newline": True, "lines": None,
    }
