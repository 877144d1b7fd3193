"""What the installed package is: one abi3 build, its version, closed objects."""

import importlib.metadata
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
