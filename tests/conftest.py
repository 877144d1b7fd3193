"""Helpers shared by the test modules, and the Hypothesis profiles.

The property tests take their example counts from the profile: `make test`
runs the full one, the other interpreters of `make test-matrix` a lean one.
"""

import faulthandler

import pytest
from hypothesis import HealthCheck, settings

from tallix_cst import parse_quarel

settings.register_profile(
    "full", max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much]
)
settings.register_profile("lean", parent=settings.get_profile("full"), max_examples=10)
settings.load_profile("full")

# A document with a bit of everything, for edits to work on.
SOURCE = """\
# header
a: 1
l: [x, [y], k: v]
v: users {
  c: "three"  # end
  sql: c * 2 ;;
}
"""


def shape(pairs):
    """Keys, names, kinds and values of `pairs`, nested."""
    return [(p.key, p.name, p.kind, shape(p.children) if p.kind == "block" else p.value) for p in pairs]


def assert_consistent(doc):
    """The printed text parses back to the document that printed it."""
    text = doc.to_string()
    assert shape(parse_quarel(text).children) == shape(doc.children), text
    return text


def calling(callback, text="5"):
    """An int whose str() runs `callback` first: Python code in the middle of a conversion."""

    class Meddling(int):
        def __str__(self):
            callback(self)
            return text

    return Meddling(1)


@pytest.fixture
def watchdog():
    """A lock waited on forever would hang the run: fail it loudly instead."""
    faulthandler.dump_traceback_later(120, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()
