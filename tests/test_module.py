"""The importable surface: names, docstrings, signatures, types, packaging."""

import importlib.metadata
import inspect
import sys
import weakref

import pytest

import tallix_cst
from tallix_cst import _native
from tallix_cst._native import Document, Pair, QuarelSyntaxError, parse_quarel

PUBLIC = ["Document", "Pair", "parse_quarel", "QuarelSyntaxError"]


def test_native_all_lists_names_in_registration_order():
    assert _native.__all__ == PUBLIC


def test_package_reexports_the_native_objects():
    assert tallix_cst.__all__[: len(PUBLIC) + 1] == PUBLIC + ["Location"]
    for name in PUBLIC + ["Location"]:
        assert getattr(tallix_cst, name) is getattr(_native, name)
    assert isinstance(tallix_cst.__version__, str)
    assert tallix_cst.__version__ == importlib.metadata.version("tallix_cst")


@pytest.mark.parametrize(
    "cls,doc",
    [
        (Document, "A parsed Quarel file. str() returns the source, including any edits."),
        (
            Pair,
            "A `key: value` entry in a document, such as `type: number` or "
            "`dimension: id { ... }`.",
        ),
    ],
)
def test_classes(cls, doc):
    assert cls.__doc__ == doc
    assert cls.__module__ == "tallix_cst"
    assert cls.__qualname__ == cls.__name__
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize(
    "func,text_signature,doc,signature",
    [
        (parse_quarel, "(source)", "Parses Quarel source into a Document.", "(source)"),
        (Document.parse, "(source)", "Parses Quarel source into a Document.", "(source)"),
        (Document.to_string, "($self)", "The document as Quarel source.", "(self, /)"),
    ],
    ids=["parse_quarel", "Document.parse", "Document.to_string"],
)
def test_method_docstrings_and_signatures(func, text_signature, doc, signature):
    assert func.__text_signature__ == text_signature
    assert func.__doc__ == doc
    assert str(inspect.signature(func)) == signature


def test_parse_is_static():
    assert isinstance(inspect.getattr_static(Document, "parse"), staticmethod)
    doc = parse_quarel("a: b")
    from_instance = doc.parse("c: d")
    assert type(from_instance) is Document
    assert from_instance.to_string() == "c: d"
    assert doc.to_string() == "a: b"
    assert str(inspect.signature(doc.to_string)) == "()"


@pytest.mark.parametrize("cls", [Document, Pair])
def test_no_constructor(cls):
    message = f"cannot create 'tallix_cst.{cls.__name__}' instances"
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == message
    with pytest.raises(TypeError):
        cls("a: b")


def test_syntax_error_type():
    assert QuarelSyntaxError.__module__ == "tallix_cst"
    assert QuarelSyntaxError.__name__ == "QuarelSyntaxError"
    assert f"{QuarelSyntaxError.__module__}.{QuarelSyntaxError.__qualname__}" == (
        "tallix_cst.QuarelSyntaxError"
    )
    assert QuarelSyntaxError.__bases__ == (ValueError,)
    assert QuarelSyntaxError.__doc__ == (
        "Raised when Quarel source cannot be parsed. Has line, column and offset attributes."
    )
    own = {name for name in vars(QuarelSyntaxError) if not name.startswith("__")}
    assert own == set()


def test_syntax_error_is_one_type_across_raises():
    caught = []
    for source in ("a:", "}"):
        try:
            parse_quarel(source)
        except Exception as exc:  # noqa: BLE001 - the type itself is under test
            caught.append(type(exc))
    assert caught == [QuarelSyntaxError, QuarelSyntaxError]


@pytest.mark.parametrize(
    "source,count",
    [("", 0), ("a: b", 1), ("a: b\nc: d\n", 2), ("v: {" + " k: v" * 10 + " }", 1)],
)
def test_repr_and_len(source, count):
    doc = parse_quarel(source)
    assert repr(doc) == f"<Document with {count} pairs>"
    assert len(doc) == count


def test_documents_compare_and_hash_by_identity():
    a = parse_quarel("a: b")
    b = parse_quarel("a: b")
    assert a == a
    assert a != b
    assert not (a == b)
    assert hash(a) == object.__hash__(a)
    assert len({a, b, a}) == 2


def test_no_instance_attributes():
    doc = parse_quarel("a: b")
    with pytest.raises(AttributeError):
        doc.anything = 1
    with pytest.raises(AttributeError):
        doc.to_string = None
    assert not hasattr(doc, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(doc)


def test_wheel_is_stable_abi():
    dist = importlib.metadata.distribution("tallix_cst")
    wheel = dist.read_text("WHEEL")
    assert wheel is not None
    tags = [line.split(":", 1)[1].strip() for line in wheel.splitlines() if line.startswith("Tag:")]
    assert tags and all(tag.startswith("cp39-abi3-") for tag in tags)
    assert ".abi3." in _native.__file__


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
