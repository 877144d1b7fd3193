"""Which schema applies to a file, the project's configuration, and what `quarel check`
reports of a file."""

import json
import os

import pytest

from tallix_cst import SchemaError
from tallix_cst.config import Configs, glob_matches
from tallix_cst.format_options import project_options
from tallix_cst.schema.association import Schemas, directive, schema_source
from tallix_cst.schema.check import file_problems, text_problems

SCHEMA = {"properties": {"n": {"type": "integer"}}, "additionalProperties": False}


def tree(root, files):
    """Writes files (text, or JSON for a dict) under root."""
    for name, content in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content if isinstance(content, str) else json.dumps(content))


@pytest.mark.parametrize("text, expected", [
    ("#:schema s.json\na: 1", ("s.json", 1)),
    ("\n  # a header\n\t#:schema   ./x/s.json  \n\na: 1", ("./x/s.json", 3)),
    ("\ufeff#:schema s.json\n", ("s.json", 1)),
    ("a: 1\n#:schema s.json\n", None),  # after the first pair: a comment like any other
    (b"# a\r\n\r#:schema s.json", ("s.json", 3)),
    (b"view: v {\n#:schema s.json\n}\n", None),
    ("#:schemas s.json\n", None),
    ("#: schema s.json\n", None),
    ("#:schema\n", None),
])
def test_directive(text, expected):
    assert directive(text) == expected


@pytest.mark.parametrize("glob, path, matches", [
    ("views/**/*.quarel", "views/a.quarel", True),
    ("views/**/*.quarel", "views/x/y/a.quarel", True),
    ("views/**/*.quarel", "other/views/a.quarel", False),
    ("*.quarel", "a.quarel", True),
    ("*.quarel", "views/a.quarel", False),
    ("**", "views/a.quarel", True),
    ("./v?ews/[a-c].quarel", "views/b.quarel", True),
    ("views/[!a].quarel", "views/a.quarel", False),
    ("a+b.quarel", "a+b.quarel", True),
])
def test_globs(glob, path, matches):
    assert glob_matches(glob, path) is matches


# Each case: the files, the file whose schema is asked, and the schema file with what
# named it (None: no schema).
@pytest.mark.parametrize("files, file, expected", [
    ({"quarel.toml": '[[schema]]\npath = "s/v.json"\ninclude = ["views/**/*.quarel"]\n'}, "views/a.quarel",
     ("s/v.json", "quarel.toml: [[schema]]")),
    ({"quarel.toml": '[[schema]]\npath = "s/v.json"\ninclude = ["views/*.quarel"]\n'}, "other/a.quarel", None),
    # The first table that matches wins; exclude takes files back.
    ({"quarel.toml": '[[schema]]\npath = "one.json"\ninclude = ["**"]\nexclude = ["views/b*"]\n'
                     '[[schema]]\npath = "two.json"\ninclude = ["**/*.quarel"]\n'}, "views/b.quarel",
     ("two.json", "quarel.toml: [[schema]]")),
    ({".quarel.toml": '[[schema]]\npath = "s.json"\ninclude = ["*.quarel"]\n'}, "a.quarel",
     ("s.json", ".quarel.toml: [[schema]]")),
    ({"pyproject.toml": '[[tool.quarel.schema]]\npath = "s.json"\ninclude = ["*.quarel"]\n'}, "a.quarel",
     ("s.json", "pyproject.toml: [[tool.quarel.schema]]")),
    # quarel.toml beats pyproject.toml in one folder; the nearest folder with either decides.
    ({"quarel.toml": "", "pyproject.toml": '[[tool.quarel.schema]]\npath = "s.json"\ninclude = ["*"]\n'}, "a.quarel", None),
    ({"quarel.toml": '[[schema]]\npath = "s.json"\ninclude = ["**"]\n', "views/pyproject.toml": ""}, "views/a.quarel", None),
    # A directive beats the configuration; its path is relative to the file.
    ({"quarel.toml": '[[schema]]\npath = "s.json"\ninclude = ["**"]\n', "views/a.quarel": "#:schema ../d.json\nn: 1\n"},
     "views/a.quarel", ("d.json", "views/a.quarel:1: #:schema")),
])
def test_which_schema(tmp_path, monkeypatch, files, file, expected):
    monkeypatch.chdir(tmp_path)
    tree(tmp_path, {file: "n: 1\n", **files})
    found = schema_source(file, configs=Configs())
    assert schema_source(file, schema="given.json").path == "given.json"  # --schema beats all
    if expected is None:
        assert found is None
        return
    relative = os.path.relpath(found.path), found.named_by.replace(str(tmp_path) + os.sep, "")
    assert relative == expected


@pytest.mark.parametrize("config, error", [
    ("[schema", "quarel.toml: error: "),
    ("colour = 1\n", "quarel.toml: error: has no setting `colour` (known: format, schema, exclude, extend-exclude)"),
    ("[format]\nindnet = 2\n", "quarel.toml: error: [format] has no option `indnet`"),
    ("[format]\nindent = 0\n", "quarel.toml: error: [format] indent = 0: "),
    ("schema = 1\n", "quarel.toml: error: `schema` must be tables, written [[schema]]"),
    ("[[schema]]\ninclude = ['*']\n", "quarel.toml: error: [[schema]] needs `path`, the schema file"),
    ("[[schema]]\npath = 's.json'\n", "quarel.toml: error: [[schema]] needs `include`, the globs of its files"),
    ("[[schema]]\npath = 's.json'\ninclude = ['*']\nglobs = 1\n", "quarel.toml: error: [[schema]] has no key `globs`"),
    ("[[schema]]\npath = 's.json'\ninclude = [1]\n", "quarel.toml: error: [[schema]] `include` must be a list of globs"),
    ("[tool.quarel]\nformats = 1\n", "pyproject.toml: error: [tool.quarel] has no setting `formats`"),
])
def test_configuration_errors(tmp_path, config, error):
    name = error.split(":")[0]  # the file the configuration is written in
    tree(tmp_path, {name: config, "a.quarel": ""})
    with pytest.raises(ValueError) as raised:
        project_options(tmp_path / "a.quarel")
        schema_source(tmp_path / "a.quarel", configs=Configs())
    assert str(raised.value).startswith(str(tmp_path / name) + error[len(name):])


@pytest.mark.parametrize("files", [
    {"quarel.toml": "[format]\nindent = 4\nnewline = 'crlf'\n"},
    {"pyproject.toml": "[tool.quarel.format]\nindent = 4\nnewline = 'crlf'\n"},
    {"quarel.toml": "[format]\nindent = 4\nnewline = 'crlf'\n", "pyproject.toml": "[tool.quarel.format]\nindent = 1\n"},
])
def test_format_options_from_either_file(tmp_path, files):
    tree(tmp_path, {**files, "a.quarel": ""})
    assert project_options(tmp_path / "a.quarel") == {"indent": "    ", "newline": "\r\n"}


@pytest.mark.parametrize("files, error", [
    ({"a.quarel": "#:schema missing.json\nn: 1\n"}, "a.quarel:1: #:schema: missing.json: No such file or directory"),
    ({"a.quarel": "#:schema sub\nn: 1\n", "sub/x": ""}, "a.quarel:1: #:schema: sub: is a folder, not a schema file"),
    ({"a.quarel": "#:schema https://example.com/s.json\n"}, "a.quarel:1: #:schema https://example.com/s.json: a remote schema"),
    ({"a.quarel": "n: 1\n", "quarel.toml": '[[schema]]\npath = "bad.json"\ninclude = ["*"]\n', "bad.json": "{"},
     "quarel.toml: [[schema]]: bad.json:1:2: not valid JSON"),
])
def test_a_schema_that_cannot_be_used_names_where_it_was_named(tmp_path, monkeypatch, files, error):
    monkeypatch.chdir(tmp_path)
    tree(tmp_path, files)
    with pytest.raises(SchemaError) as raised:
        file_problems("a.quarel")
    shown = str(raised.value)
    assert shown.replace(str(tmp_path) + os.sep, "").startswith(error) and "\n" not in shown


def test_file_problems_in_position_order(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    uri = (tmp_path / "s.json").as_uri()
    tree(tmp_path, {"s.json": SCHEMA, "ok.quarel": "#:schema s.json\nn: 1\n",
                    "bad.quarel": f"#:schema {uri}\nm: 1\nn: x\n", "broken.quarel": "#:schema s.json\na: {\n  b: [x y]\n  c: ,\n}\nd: }\n"})
    assert file_problems("ok.quarel") == []
    assert [(p.location.line, p.location.column, p.keyword, p.message) for p in file_problems("bad.quarel")] == [
        (2, 1, "additionalProperties", "`m` is not allowed at the top level"),
        (3, 4, "type", "`n` must be a whole number (found `x`)"),
    ]
    # Syntax errors, all of them, and nothing of the schema.
    assert [(p.location.line, p.location.column, p.keyword) for p in file_problems("broken.quarel")] == [
        (3, 9, "syntax"), (4, 6, "syntax"), (6, 4, "syntax")]
    schemas = Schemas()
    assert file_problems("bad.quarel", schema="s.json", schemas=schemas) == file_problems("bad.quarel")
    assert text_problems(b"n: 1") == []
