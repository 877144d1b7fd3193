#!/bin/sh
# Builds the libFuzzer targets over the C++ engine and runs each in turn.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]   (targets: parse edit utf8 recover; default all)
# FUZZ_SRC names another copy of src/ to fuzz (say, a commit's, exported
# while the work tree is mid-edit); FUZZ_OUT another build folder.
#
# Installs clang from Debian's packages when it is missing (clang 17 or
# newer: the engine uses aggregate template argument deduction). Objects,
# the growing corpora and any crashing inputs live under build/fuzz/; a
# finding stops the run with libFuzzer's report and a non-zero exit.
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-parse edit utf8 recover}

CXX=${FUZZ_CXX:-clang++-19}
if ! command -v "$CXX" >/dev/null; then
    apt-get update -qq
    apt-get install -y -qq clang-19 libclang-rt-19-dev
fi

src_root=${FUZZ_SRC:-src}
out=${FUZZ_OUT:-build/fuzz}
flags="-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -fno-omit-frame-pointer -I$src_root -Ifuzz"
mkdir -p "$out/obj" "$out/findings"

# One object per source, rebuilt when the source or any header is newer.
objects=""
for src in "$src_root"/cst/*.cpp "$src_root"/parser/*.cpp "$src_root"/edit/*.cpp \
    "$src_root"/format/*.cpp "$src_root"/editor/*.cpp \
    $(printf 'fuzz/%s_fuzzer.cpp ' $targets); do
    obj="$out/obj/$(basename "$(dirname "$src")")_$(basename "$src").o"
    if [ ! -f "$obj" ] || [ -n "$(find "$src" "$src_root" fuzz -name '*.?pp' -newer "$obj" | head -n 1)" ]; then
        echo "compile $src"
        # shellcheck disable=SC2086
        "$CXX" $flags -c "$src" -o "$obj"
    fi
    case "$src" in fuzz/*) ;; *) objects="$objects $obj" ;; esac
done

python3 fuzz/seed_corpus.py "$out/seeds"

for target in $targets; do
    # shellcheck disable=SC2086
    "$CXX" -fsanitize=fuzzer,address,undefined $objects "$out/obj/fuzz_${target}_fuzzer.cpp.o" \
        -o "$out/${target}_fuzzer"
    mkdir -p "$out/corpus/$target" "$out/seeds/$target"
    echo "fuzz $target for $seconds s"
    UBSAN_OPTIONS=print_stacktrace=1 "$out/${target}_fuzzer" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -dict=fuzz/quarel.dict -artifact_prefix="$out/findings/$target-" \
        "$out/corpus/$target" "$out/seeds/$target"
done
