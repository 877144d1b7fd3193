#!/bin/sh
# Runs the suite against the one abi3 wheel in build/wheel on every CPython
# from 3.9 on this machine (pyenv's versions and python3.X on PATH, one per
# version), each in its own venv under build/matrix. Arguments go to pytest;
# MATRIX_SKIP names versions already run elsewhere.
set -u
cd "$(dirname "$0")/.."
wheel=$(ls build/wheel/*-cp39-abi3-*.whl) || exit 1

found() {
  for py in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/*/bin/python3 \
            $(for n in $(seq 9 30); do command -v "python3.$n"; done); do
    "$py" -c 'import sys
assert sys.implementation.name == "cpython" and sys.version_info >= (3, 9)
print("%d.%d" % sys.version_info[:2], sys.executable)' 2>/dev/null
  done | sort -V | awk '!seen[$1]++'
}

passed="" failed=""
for line in $(found | tr ' ' '='); do
  version=${line%%=*} python=${line#*=}
  case " ${MATRIX_SKIP:-} " in *" $version "*) continue ;; esac
  venv=build/matrix/$version
  echo "== CPython $version ($python)"
  if [ ! -f "$venv/.ready" ]; then
    rm -rf "$venv" && "$python" -m venv "$venv" &&
    "$venv/bin/pip" install -q --disable-pip-version-check "$wheel[test]" &&
    touch "$venv/.ready"
  fi &&
  "$venv/bin/pip" install -q --disable-pip-version-check --force-reinstall --no-deps "$wheel" &&
  "$venv/bin/python" -m pytest -p no:cacheprovider "$@"
  if [ $? -eq 0 ]; then passed="$passed $version"; else failed="$failed $version"; fi
done

echo "== the wheel passed on CPython${passed:- (none)}${MATRIX_SKIP:+ (run elsewhere: $MATRIX_SKIP)}"
[ -z "$failed" ] || { echo "== and FAILED on CPython$failed"; exit 1; }
[ -n "$passed" ]
