"""Memory of a parsed document, measured in a fresh process.

The tree lives in C++ allocations that tracemalloc cannot see, so what is
measured is the resident set of a process that has done nothing but read
the source: its peak growth across the parse (VmHWM, reset just before)
and its growth that stays while the document lives.

Run alone: .venv/bin/python bench/memory.py FILE
"""

from __future__ import annotations

import gc
import json
import subprocess
import sys
import tempfile


def _status(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def measure(path: str) -> dict:
    """Peak and lasting growth of the resident set, per byte of source."""
    import tallix_cst

    with open(path, encoding="utf-8", newline="") as f:
        source = f.read()
    size = len(source.encode())
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets VmHWM to the current resident set
    before = _status("VmRSS")
    doc = tallix_cst.parse_quarel(source)
    gc.collect()
    resident, peak = _status("VmRSS") - before, _status("VmHWM") - before
    del doc
    return {"peak": peak / size, "resident": resident / size}


def memory_ratios(source: str) -> dict:
    """`measure` run on the source in a new interpreter."""
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", newline="", suffix=".quarel") as f:
        f.write(source)
        f.flush()
        out = subprocess.run([sys.executable, __file__, f.name], capture_output=True, text=True,
                             check=True).stdout
    return json.loads(out)


if __name__ == "__main__":
    print(json.dumps(measure(sys.argv[1])))
