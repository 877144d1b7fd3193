#!/usr/bin/env bash
# Runs the suite against the one abi3 wheel in build/wheel on every CPython
# from 3.9 on this machine (pyenv's versions and python3.X on PATH, one per
# version), each in its own venv under build/matrix, two versions at a time
# (the machine has two cores; each run is one process). Arguments go to
# pytest; MATRIX_SKIP names versions already run elsewhere.
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

# One version: its venv (made once), the wheel, the suite; output in its log.
run() {
  local version=$1 python=$2 venv=build/matrix/$1
  shift 2
  {
    echo "== CPython $version ($python)"
    if [ ! -f "$venv/.ready" ]; then
      rm -rf "$venv" && "$python" -m venv "$venv" &&
      "$venv/bin/pip" install -q --disable-pip-version-check "$wheel[test]" &&
      touch "$venv/.ready"
    else  # the new wheel, and the dependencies added since the venv was made
      "$venv/bin/pip" install -q --disable-pip-version-check --force-reinstall --no-deps "$wheel" &&
      "$venv/bin/pip" install -q --disable-pip-version-check "$wheel[test]"
    fi &&
    "$venv/bin/python" -m pytest -p no:cacheprovider "$@"
  } > "build/matrix/$version.log" 2>&1
  echo $? > "build/matrix/$version.status"
}

mkdir -p build/matrix
versions=()
while read -r version python; do
  case " ${MATRIX_SKIP:-} " in *" $version "*) continue ;; esac
  versions+=("$version")
  rm -f "build/matrix/$version.status"
  run "$version" "$python" "$@" &
  # Two at a time: a third starts when one of them ends.
  if [ "$(jobs -rp | wc -l)" -ge 2 ]; then wait -n; fi
done < <(found)
wait

passed="" failed=""
for version in "${versions[@]}"; do
  cat "build/matrix/$version.log"
  if [ "$(cat "build/matrix/$version.status" 2>/dev/null)" = 0 ]; then
    passed="$passed $version"
  else
    failed="$failed $version"
  fi
done

echo "== the wheel passed on CPython${passed:- (none)}${MATRIX_SKIP:+ (run elsewhere: $MATRIX_SKIP)}"
[ -z "$failed" ] || { echo "== and FAILED on CPython$failed"; exit 1; }
[ -n "$passed" ]
