"""Random edit sequences on random documents.

After every step the printed text must parse back to the tree that was
edited, pair for pair; a step that raises must leave the text as it was.
"""

from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule

from strategies import documents, expr_keys, keys
from tallix_cst import Document, QuarelSyntaxError, parse_quarel

# What a refused edit may raise; anything else (RuntimeError included: no
# callback re-enters here) is a failure.
REFUSALS = (ValueError, TypeError, IndexError, KeyError)


def shape(container):
    """Keys, names, kinds, values, comments and own text of every pair, nested."""
    return [(p.key, p.name, p.kind, shape(p) if p.kind == "block" else p.value, p.comments,
             p.to_string(include_leading=True) if p.kind != "block" else None) for p in container.children]


_texts = st.one_of(st.sampled_from(["number", "a b", "yes", "", "10", "a/b", "x;;y", "a;", '"q"', "\\", "# c", "two\nlines",
                                     "é", "  pad  ", "}", "]", "a,b", "\r"]), st.text(max_size=6))
_scalars = st.one_of(_texts, st.integers(-1000, 10**20), st.floats(width=32), st.booleans(), st.none())
_element_keys = st.one_of(st.sampled_from(["k", "status", "a b", ""]), keys())
_py_values = st.recursive(_scalars, lambda inner: st.one_of(
    st.lists(st.one_of(inner, st.tuples(_element_keys, inner)), max_size=3),
    st.dictionaries(_element_keys, inner, max_size=2), st.tuples(_element_keys, inner)), max_leaves=5)
_kinds = st.sampled_from([None, None, None, "literal", "string", "expr", "list", "block", "foo"])
_new_keys = st.one_of(keys(), expr_keys(), st.sampled_from(["a", "type", "dimension", "a b", "", "x:y"]))
_names = st.one_of(st.none(), st.sampled_from(["users", "id", "a b", ""]), keys())
_indexes = st.one_of(st.none(), st.integers(-6, 6))
_snippets = st.one_of(documents(depth=1, max_pairs=2),
                      st.sampled_from(["a: 1\nb: [x,\n  y]", '# c\nk: "multi\nline"', "x: {\n  y: 1\n}", "bad", "a: {"]))
_comment_lines = st.lists(st.sampled_from(["note", "# kept", "", "two\nlines", "cr\rlf\r\n", "  #x  "]), max_size=3)


has_pairs = precondition(lambda self: bool(self.pairs()))


class EditMachine(RuleBasedStateMachine):
    @initialize(source=documents())
    def start(self, source):
        self.doc = parse_quarel(source)
        self.detached = []

    # -- choosing what to edit ---------------------------------------------

    def containers(self):
        return [self.doc] + [p for p in self.pairs() if p.kind == "block"]

    def pairs(self):
        return self.doc.walk() + self.detached

    def pick_container(self, data):
        return data.draw(st.sampled_from(self.containers()))

    def pick_pair(self, data):
        return data.draw(st.sampled_from(self.pairs()))

    def pick_key(self, data, container):
        is_block = isinstance(container, Document) or container.kind == "block"
        existing = [p.key for p in container.children] if is_block else []
        return data.draw(st.one_of(_new_keys, st.sampled_from(existing)) if existing else _new_keys)

    def attempt(self, edit, *watched):
        """Runs edit; a refusal must change neither the document nor `watched` pairs."""
        before = [self.doc.to_string()] + [p.to_string(include_leading=True) for p in watched]
        try:
            return edit()
        except REFUSALS:
            after = [self.doc.to_string()] + [p.to_string(include_leading=True) for p in watched]
            assert after == before
            return None

    # -- the edits -----------------------------------------------------------

    @rule(data=st.data(), value=st.one_of(st.none(), _py_values), kind=_kinds, name=_names, index=_indexes)
    def add(self, data, value, kind, name, index):
        container = self.pick_container(data)
        key = self.pick_key(data, container)
        if value is not None and data.draw(st.integers(0, 9)):
            name = None  # a name with a value is refused: try it only now and then
        self.attempt(lambda: container.add(key, value, name=name, kind=kind, index=index))

    @rule(data=st.data(), snippet=_snippets, index=_indexes)
    def add_source(self, data, snippet, index):
        container = self.pick_container(data)
        self.attempt(lambda: container.add_source(snippet, index=index))

    @has_pairs
    @rule(data=st.data(), by_key=st.booleans())
    def remove(self, data, by_key):
        container = self.pick_container(data)
        target = self.pick_key(data, container) if by_key else self.pick_pair(data)
        self.attempt(lambda: container.remove(target))

    @rule(data=st.data())
    def delete_item(self, data):
        container = self.pick_container(data)
        key = self.pick_key(data, container)
        self.attempt(lambda: container.__delitem__(key))

    @rule(data=st.data(), value=_py_values)
    def set_item(self, data, value):
        container = self.pick_container(data)
        key = self.pick_key(data, container)
        self.attempt(lambda: container.__setitem__(key, value))

    @has_pairs
    @rule(data=st.data(), value=_py_values)
    def assign_value(self, data, value):
        pair = self.pick_pair(data)
        self.attempt(lambda: setattr(pair, "value", value), pair)

    @has_pairs
    @rule(data=st.data(), value=_py_values, kind=_kinds)
    def set_value(self, data, value, kind):
        pair = self.pick_pair(data)
        self.attempt(lambda: pair.set_value(value, kind=kind), pair)

    @has_pairs
    @rule(data=st.data(), key=_new_keys)
    def rename(self, data, key):
        pair = self.pick_pair(data)
        self.attempt(lambda: setattr(pair, "key", key), pair)

    @has_pairs
    @rule(data=st.data(), name=_names)
    def set_name(self, data, name):
        pair = self.pick_pair(data)
        self.attempt(lambda: setattr(pair, "name", name), pair)

    @has_pairs
    @rule(data=st.data(), lines=_comment_lines)
    def set_comments(self, data, lines):
        pair = self.pick_pair(data)
        self.attempt(lambda: setattr(pair, "comments", lines), pair)
        assert all(line.startswith("#") for line in pair.comments)

    @has_pairs
    @rule(data=st.data())
    def detach(self, data):
        pair = self.pick_pair(data)
        was_attached = pair in self.doc.walk()
        text = self.doc.to_string()
        result = pair.detach()
        if result:
            assert pair not in self.doc.walk()
            self.detached = (self.detached + [pair])[-3:]
        else:
            assert self.doc.to_string() == text
        # A pair found by walk() always sits in the container it reports.
        assert result == was_attached

    # -- what must hold after every step ---------------------------------

    @invariant()
    def text_reads_back_as_the_tree(self):
        text = self.doc.to_string()
        try:
            reread = parse_quarel(text)
        except QuarelSyntaxError as e:
            raise AssertionError(f"{text!r} no longer parses: {e}") from None
        assert shape(reread) == shape(self.doc), text

    @invariant()
    def detached_pairs_print_on_their_own(self):
        for pair in self.detached:
            alone = parse_quarel(pair.to_string())
            assert [(p.key, p.kind) for p in alone.children] == [(pair.key, pair.kind)]


# The example count comes from the Hypothesis profile (see conftest.py).
EditMachine.TestCase.settings = settings(stateful_step_count=15)
TestEditMachine = EditMachine.TestCase
