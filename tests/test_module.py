"""What the installed package is: one abi3 build, its version, closed objects."""

import importlib.metadata
import sys
import weakref

import pytest

import tallix_cst
from tallix_cst import _native, parse_quarel


def test_installed_wheel_is_the_stable_abi_build():
    assert tallix_cst.__version__ == importlib.metadata.version("tallix_cst")
    wheel = importlib.metadata.distribution("tallix_cst").read_text("WHEEL") or ""
    tags = [line.split(":", 1)[1].strip() for line in wheel.splitlines() if line.startswith("Tag:")]
    assert tags and all(tag.startswith("cp39-abi3-") for tag in tags)
    assert ".abi3." in _native.__file__


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
