"""Random edit sequences on random documents.

After every step the printed text must parse back to the tree that was
edited, pair for pair; a step that raises must leave the text as it was.
Documents written in one style (LF or CRLF; tabs, two or four spaces) must
also keep it: their line breaks stay one kind, new lines use their indent
step (snippets included, whatever their own unit), and every pair keeps
its comments.
"""

import re

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
_styled_snippets = ["a: 1\nb: [x,\n  y]", '# c\nk: "multi\nline"', "x: {\n  y: 1\n}", "x: {\r\n\ty: 1\r\n}", "bad", "a: {",
                    "  type: n\n  sql: a\n      b ;;", "\tsql: a\n\t\t b ;;", "x: [a,\n        b]\ny: {\n  z: 1\n}"]
_snippets = st.one_of(documents(depth=1, max_pairs=2), st.sampled_from(_styled_snippets))
_comment_lines = st.lists(st.sampled_from(["note", "# kept", "", "two\nlines", "cr\rlf\r\n", "  #x  "]), max_size=3)


has_pairs = precondition(lambda self: bool(self.pairs()))

_words = st.sampled_from(["a", "b", "id", "type", "dimension", "x"])


@st.composite
def styled_body(draw, nl, step, depth):
    """Pairs each on a line of their own, `step` deeper per level, with
    headings, comments above and at the end of lines, and blank lines."""
    ind, out = step * depth, []
    for i in range(draw(st.integers(1, 3))):
        if i and draw(st.integers(0, 2)) == 0:
            out.append(nl)
        if draw(st.integers(0, 3)) == 0:
            out.append(f"{ind}# section{nl}{nl}")
        out += [f"{ind}# about {c}{nl}" for c in range(draw(st.integers(0, 2)))]
        kind = draw(st.sampled_from(["literal", "string", "expr", "list", "long list"] + ["block"] * (depth < 2)))
        key = "sql" if kind == "expr" else draw(_words)
        if kind == "block":
            value = draw(st.sampled_from(["", "v "])) + "{" + draw(st.sampled_from(["", "  # open"])) + nl
            value += draw(styled_body(nl, step, depth + 1)) + ind + "}"
        elif kind == "long list":
            value = "[" + nl + f",{nl}".join(f"{ind}{step}{w}" for w in draw(st.lists(_words, min_size=1, max_size=3))) + nl + ind + "]"
        else:
            value = {"literal": "1", "string": '"s t"', "expr": "x ;;", "list": "[a, b]"}[kind]
        out.append(f"{ind}{key}: {value}{draw(st.sampled_from(['', '  # note']))}{nl}")
    return "".join(out)


@st.composite
def styled_documents(draw):
    nl, step = draw(st.sampled_from([(nl, step) for nl in ("\n", "\r\n") for step in ("\t", "  ", "    ")]))
    header = draw(st.sampled_from(["", f"# Copyright{nl}{nl}"]))
    # One nested block shows the step from the start.
    return header + f"n: {{{nl}{step}m: 1{nl}}}{nl}" + draw(styled_body(nl, step, 0)), (nl, step)


def leading(pair):
    full, bare = pair.to_string(include_leading=True), pair.to_string()
    return full[: len(full) - len(bare)]


def end_comment(text):
    """The comment ending the line that `text` starts on, if any."""
    line = text.split("\n", 1)[0]
    return line[line.index("#") :].rstrip("\r") if "#" in line else None


def owned_comments(doc):
    """[pair, comments above it, comment ending its line, comment ending its `{` line]."""
    out = []

    def body(children, trailing):
        after = [leading(c) for c in children[1:]] + [trailing]
        for child, follows in zip(children, after):
            entry = [child, child.comments, end_comment(follows), None]
            if child.kind == "block":
                kids, text = child.children, child.to_string()
                inner = text[text.index("{") + 1 + len("".join(k.to_string(include_leading=True) for k in kids)) : -1]
                entry[3] = end_comment(leading(kids[0]) if kids else inner)
                body(kids, inner)
            out.append(entry)

    text = doc.to_string()
    body(doc.children, text[len("".join(k.to_string(include_leading=True) for k in doc.children)) :])
    return out


class EditMachine(RuleBasedStateMachine):
    @initialize(data=st.data())
    def start(self, data):
        # A document in one style, or any layout (style None).
        source, self.style = data.draw(st.one_of(documents().map(lambda s: (s, None)), styled_documents()))
        self.doc = parse_quarel(source)
        self.detached = []
        self.owned = None
        self.changed = None  # the pair whose comments or value a step rewrote
        self.added = []  # the pairs a snippet added in this step
        self.step_shown = True

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
        if self.style:  # a snippet in a style of its own
            snippet = data.draw(st.one_of(st.sampled_from(_styled_snippets), styled_documents().map(lambda d: d[0])))
        container = self.pick_container(data)
        self.added = self.attempt(lambda: container.add_source(snippet, index=index)) or []

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
        if key in container:
            self.changed = container.find(key)
        self.attempt(lambda: container.__setitem__(key, value))

    @has_pairs
    @rule(data=st.data(), value=_py_values, kind=st.one_of(st.just("assigned"), _kinds))
    def set_value(self, data, value, kind):
        pair = self.changed = self.pick_pair(data)
        if kind == "assigned":  # `pair.value = value` keeps the kind
            self.attempt(lambda: setattr(pair, "value", value), pair)
        else:
            self.attempt(lambda: pair.set_value(value, kind=kind), pair)

    @has_pairs
    @rule(data=st.data(), change=st.one_of(_new_keys.map(lambda k: ("key", k)), _names.map(lambda n: ("name", n))))
    def rename(self, data, change):
        pair = self.pick_pair(data)
        self.attempt(lambda: setattr(pair, *change), pair)

    @has_pairs
    @rule(data=st.data(), lines=_comment_lines)
    def set_comments(self, data, lines):
        pair = self.changed = self.pick_pair(data)
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
    def line_breaks_stay_uniform(self):
        if not self.style:
            return
        # Strings and expressions keep the line breaks their values hold.
        text = self.doc.to_bytes()
        inside = b"".join(text[o:o + n] for o, n, kind in self.doc.tokens() if kind in ("string", "expr"))
        lf, crlf = (text.count(b) - inside.count(b) for b in (b"\n", b"\r\n"))
        assert crlf == (lf if self.style[0] == "\r\n" else 0), text

    @invariant()
    def new_lines_use_the_indent_step(self):
        # Once no block shows the step on a line of its own, the document has
        # lost it, and new blocks rightly take the default.
        self.step_shown = self.step_shown and any(
            p.kind == "block" and p.children and "\n" in leading(p.children[0]) for p in self.doc.walk()
        )
        if not self.style or not self.step_shown:
            return
        step = self.style[1]

        def check(children, depth):
            for p in children:
                lead = leading(p)
                lines = lead.split("\n")[1:]
                # The pair's line and the comment lines above it.
                for line in lines[len(lines) - 1 - len(p.comments):]:
                    assert line.rstrip("\r")[: len(line) - len(line.lstrip(" \t"))] == step * depth, repr(lead)
                if p.kind == "block":
                    check(p.children, depth + 1)

        check(self.doc.children, 0)

    @invariant()
    def snippets_indent_in_the_documents_unit(self):
        # Whole steps, then spaces that align (an expression's next line);
        # no styled snippet holds a string whose next line starts indented.
        added, self.added = self.added, []
        if not self.style or not self.step_shown:
            return
        unit = re.compile(f"({re.escape(self.style[1])})* *")
        for pair in added:
            for line in pair.to_string().split("\n")[1:]:
                assert unit.fullmatch(line[: len(line) - len(line.lstrip(" \t"))]), repr(pair.to_string())

    @invariant()
    def comments_stay_with_their_pairs(self):
        if not self.style:
            return
        now = owned_comments(self.doc)
        for entry in now:
            for before in self.owned or []:
                if before[0] == entry[0] and entry[0] != self.changed:
                    assert before == entry, self.doc.to_string()
        self.owned, self.changed = now, None

    @invariant()
    def detached_pairs_print_on_their_own(self):
        for pair in self.detached:
            alone = parse_quarel(pair.to_string())
            assert [(p.key, p.kind) for p in alone.children] == [(pair.key, pair.kind)]


# The example count comes from the Hypothesis profile (see conftest.py).
EditMachine.TestCase.settings = settings(stateful_step_count=15)
TestEditMachine = EditMachine.TestCase
