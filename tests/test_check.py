"""`quarel check` and `quarel schema infer`: the three output formats written out by hand,
the exit statuses, which schema applies to which file, and inferred schemas that hold."""

import json

import pytest
from conftest import write

from tallix_cst.cli.check import annotation

pytestmark = pytest.mark.timeout(120)
VIEW_SCHEMA = {
    "type": "object",
    "additionalProperties": False,
    "properties": {"view": {"additionalProperties": {
        "type": "object",
        "additionalProperties": False,
        "required": ["sql_table_name"],
        "properties": {"sql_table_name": {"type": "string"}, "hidden": {"type": "boolean"},
                       "type": {"enum": ["number", "string"]}},
    }}},
}
FILES = {
    "schemas/view.json": json.dumps(VIEW_SCHEMA),
    "quarel.toml": '[[schema]]\npath = "schemas/view.json"\ninclude = ["views/**/*.quarel"]\n',
    "views/a.quarel": "view: a {\n  sql_tabel_name: t ;;\n  type: numbr\n}\n",
    "views/b.quarel": "view: b {\n  sql_table_name: t ;;\n  hidden: maybe\n}\n",
    "views/ok.quarel": "view: ok {\n  sql_table_name: t ;;\n}\n",
    "views/broken.quarel": "view: c {\n  a: [\n  b c\n}\nd e\n",
    "other/free.quarel": "anything: goes\n",
}
# (line, column, end line, end column, message, selector, keyword) of each problem, by file.
PROBLEMS = {
    "views/a.quarel": [
        (2, 3, 2, 17, "`sql_tabel_name` is not allowed in `view:a`; did you mean `sql_table_name`?",
         "view:a/sql_tabel_name", "additionalProperties"),  # (and not also: `sql_table_name` is missing)
        (3, 9, 3, 14, "`type` must be one of `number` or `string` (found `numbr`)", "view:a/type", "enum"),
    ],
    "views/b.quarel": [(3, 11, 3, 16, "`hidden` must be yes or no (found `maybe`)", "view:b/hidden", "type")],
    "views/broken.quarel": [(3, 5, 3, 5, "expected `,` or `]` in list", "", "syntax"),
                            (5, 3, 5, 3, "expected `:` after key", "", "syntax")],
}


@pytest.fixture
def project(tmp_path):
    for name, text in FILES.items():
        write(tmp_path / name, text)
    return tmp_path


def expected(fmt):
    rows = [(path, *problem) for path, problems in sorted(PROBLEMS.items()) for problem in problems]
    if fmt == "text":
        return "".join(f"{p}:{line}:{col}: {message}\n" for p, line, col, _, _, message, _, _ in rows)
    if fmt == "github":
        return "".join(f"::error file={p},line={line},col={col},endLine={el},endColumn={ec}::{message}\n"
                       for p, line, col, el, ec, message, _, _ in rows)
    fields = ["path", "line", "column", "end_line", "end_column", "message", "selector", "keyword"]
    return [{**dict(zip(fields, row)), "severity": "error"} for row in rows]


@pytest.mark.parametrize("fmt", ["text", "json", "github"])
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_the_output_formats(quarel, project, fmt, jobs):
    status, out, err = quarel("check", "views", "other", "--output-format", fmt, "-j", jobs)
    assert (status, err) == (1, "5 problems in 3 of 5 files, 0 failed\n")
    assert (json.loads(out) if fmt == "json" else out) == expected(fmt)


# (what is added to the project, arguments, status, standard output, the first line on standard error)
@pytest.mark.parametrize("files,args,status,out,err", [
    ({}, ["views/ok.quarel", "other"], 0, "", "no problems in 2 files, 0 failed"),
    ({}, ["views/ok.quarel", "--output-format", "json"], 0, "[]\n", "no problems in 1 file, 0 failed"),
    # A schema or a configuration that cannot be used ends the run before any file is checked.
    ({}, ["--schema", "missing.json", "views"], 2, "", "quarel check: error: --schema missing.json: "),
    ({"views/quarel.toml": "[[schema]]\npath = 1\n"}, ["views", "other"], 2, "", "{p}/views/quarel.toml: error: [[schema]] needs `path`"),
    ({"quarel.toml": "[[schema]]\npath = \"no.json\"\ninclude = [\"views/*\"]\n"}, ["views/ok.quarel"], 2, "",
     "{p}/quarel.toml: [[schema]]: {p}/no.json: "),
    # A #:schema that names no usable file fails that file alone.
    ({"other/free.quarel": "#:schema ../none.json\nanything: goes\n"}, ["views/ok.quarel", "other"], 2, "",
     "other/free.quarel:1: #:schema: none.json: No such file or directory"),
])
def test_exit_statuses(quarel, project, files, args, status, out, err):
    for name, text in files.items():
        write(project / name, text)
    result = quarel("check", *args)
    assert result[:2] == (status, out)
    assert result[2].startswith(err.format(p=project)), result[2]


# --schema over #:schema over [[schema]]: each schema here allows one key alone.
@pytest.mark.parametrize("directive,given,allowed", [
    (False, False, "from_config"), (True, False, "from_directive"), (True, True, "given"), (False, True, "given"),
])
def test_which_schema_applies(quarel, tmp_path, directive, given, allowed):
    for key in ["from_config", "from_directive", "given"]:
        write(tmp_path / f"{key}.json", json.dumps({"additionalProperties": False, "properties": {key: {}}}))
    write(tmp_path / ".quarel.toml", '[[schema]]\npath = "from_config.json"\ninclude = ["d/*.quarel"]\n')
    head = "# A file.\n#:schema ../from_directive.json\n\n" if directive else ""
    write(tmp_path / "d" / "f.quarel", head + "from_config: 1\nfrom_directive: 1\ngiven: 1\n")
    status, out, _ = quarel("check", "d", *(["--schema", "given.json"] if given else []))
    assert (status, out.count("is not allowed")) == (1, 2)
    assert f"`{allowed}` is not allowed" not in out


# (the problem's path and message, the line GitHub reads): `:` and `,` are escaped in a property alone.
@pytest.mark.parametrize("path,message,line", [
    ("f", "100% done\r\nnext", "::error file=f,line=1,col=2,endLine=3,endColumn=4::100%25 done%0D%0Anext\n"),
    ("a,b:c%.quarel", "a: b, c", "::error file=a%2Cb%3Ac%25.quarel,line=1,col=2,endLine=3,endColumn=4::a: b, c\n"),
])
def test_annotations_escape_what_github_reads(path, message, line):
    assert annotation({"path": path, "line": 1, "column": 2, "end_line": 3, "end_column": 4, "message": message, "severity": "error"}) == line


def test_infer(quarel, project):
    # A file that fails writes nothing.
    assert quarel("schema", "infer", "views", "-o", "inferred.json") == (1, "", "views/broken.quarel:3:5: expected `,` or `]` in list\n"
                                                                          "quarel schema infer: no schema written: every file must be read\n")
    assert not (project / "inferred.json").exists()
    for name in ["views/a.quarel", "views/broken.quarel"]:
        (project / name).unlink()
    status, schema, err = quarel("schema", "infer", "views")
    assert (status, err) == (0, "")
    assert quarel("schema", "infer", "views") == (0, schema, "")
    assert quarel("schema", "infer", "views", "-o", "inferred.json") == (0, "", "quarel: wrote the schema of 2 files to inferred.json\n")
    assert (project / "inferred.json").read_text() == schema
    assert json.loads(schema)["properties"]["view"]["additionalProperties"]["required"] == ["sql_table_name"]
    # Every file it came from satisfies it, where the project's schema finds problems in b.quarel.
    assert quarel("check", "--schema", "inferred.json", "views")[0] == 0
