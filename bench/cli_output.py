"""`quarel set --diff` and `quarel json` on a large file, each against its reference,
measured in the same run.

    .venv/bin/python bench/cli_output.py [MEGABYTES] [RUNS]

The file is the configuration document of corpus.py (50 MB unless told otherwise). Each
figure is the best of RUNS (3) fresh processes, in CPU time (user and system: the machine
is shared, see README.md), the two sides of a ratio alternating:

- `set` with `--diff` against `set` printing the document, for one value in the middle
  of the file and for the table of every view (a change every 3.7 kB);
- `json` against a process that parses the file and prints json.dumps(to_data(),
  ensure_ascii=False, indent=2), the text `json` prints; and the peak resident set of
  `json` against what the parsed tree keeps, each beyond the interpreter's own.
"""

from __future__ import annotations

import os
import pathlib
import re
import subprocess
import sys
import tempfile
from typing import List, Tuple

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import corpus  # noqa: E402

# Every process measured is this interpreter running the prelude, then some code. At its
# exit it prints, on standard error, its resident set in MB when the prelude ran and its
# peak: a child's ru_maxrss would count the memory of this process, which it forked from.
PRELUDE = """
import atexit, json, sys
def status(field):
    with open('/proc/self/status') as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith(field)) // 1024
start = status('VmRSS:')
atexit.register(lambda: print(start, status('VmHWM:'), file=sys.stderr))
"""
QUAREL = "from tallix_cst.cli import main\nsys.exit(main(sys.argv[1:]))\n"
DUMPS = (
    "import tallix_cst\n"
    "data = tallix_cst.loads(open(sys.argv[1], 'rb').read()).to_data()\n"
    "sys.stdout.write(json.dumps(data, ensure_ascii=False, indent=2) + '\\n')\n"
)
# The memory that a parsed document keeps, its bytes dropped.
TREE = (
    "import tallix_cst\n"
    "doc = tallix_cst.loads(open(sys.argv[1], 'rb').read())\n"
    "print(status('VmRSS:') - start, file=sys.stderr)\n"
)


def run(code: str, *args: str) -> Tuple[float, int, str]:
    """Seconds of CPU time and the peak growth of the resident set in MB of a process
    running the code, its output thrown away; and what it printed on standard error."""
    with open(os.devnull, "wb") as nowhere:
        process = subprocess.Popen(
            [sys.executable, "-c", PRELUDE + code, *args],
            stdout=nowhere,
            stderr=subprocess.PIPE,
        )
        _, status, usage = os.wait4(process.pid, 0)
        assert process.stderr
        said = process.stderr.read().decode()
    *lines, last = said.splitlines()
    if os.waitstatus_to_exitcode(status) not in (0, 1):
        raise SystemExit(f"{args} failed: {said}")
    start, peak = map(int, last.split())
    return usage.ru_utime + usage.ru_stime, peak - start, "\n".join(lines)


def best(runs: int, *commands: List[str]) -> List[Tuple[float, int]]:
    """For each command (code and arguments), the least time and the largest peak growth,
    over alternating runs."""
    results = [[run(*command)[:2] for command in commands] for _ in range(runs)]
    return [
        (min(r[n][0] for r in results), max(r[n][1] for r in results))
        for n in range(len(commands))
    ]


def main() -> None:
    megabytes = float(sys.argv[1]) if len(sys.argv) > 1 else 50
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as folder:
        path = pathlib.Path(folder) / "config.quarel"
        path.write_text(corpus.config_document(int(megabytes * 1e6)))
        text = path.read_text()
        views = re.findall(r"^view: (\S+) \{", text, flags=re.M)
        print(f"{len(text) / 1e6:.1f} MB, {len(views)} views, best of {runs}, CPU time")
        for what, selector in [
            ("one value", f"view:{views[len(views) // 2]}/sql_table_name"),
            ("every view's table", "view:*/sql_table_name"),
        ]:
            edit = [QUAREL, "set", selector, "x.y", str(path)]
            (plain, _), (diffed, _) = best(runs, edit, [*edit, "--diff"])
            print(
                f"  set, {what:18}  {plain:6.2f} s   --diff {diffed:6.2f} s"
                f"   {diffed / plain:.2f}x"
            )
        (json_s, json_mb), (ref_s, ref_mb) = best(
            runs, [QUAREL, "json", str(path)], [DUMPS, str(path)]
        )
        tree_mb = int(run(TREE, str(path))[2])
        print(
            f"  json                      {json_s:6.2f} s   parse + json.dumps {ref_s:6.2f} s"
            f"   {json_s / ref_s:.2f}x"
        )
        print(
            f"  memory beyond the interpreter's: json's peak {json_mb} MB, the parsed tree"
            f" {tree_mb} MB ({json_mb / tree_mb:.2f}x); json.dumps of the whole: peak {ref_mb} MB"
        )


if __name__ == "__main__":
    main()
