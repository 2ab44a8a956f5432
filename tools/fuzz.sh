#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/, replays every harness's regression corpus (fuzz/regression/<harness>/: inputs that
# once crashed or hung the player), then fuzzes each harness in turn for SECONDS (default 60).
# Fails on any crash, leak, sanitizer report or time-out, naming the input that caused it.
#   tools/fuzz.sh [SECONDS]      SECONDS=0 only replays the regression corpora
#   KEST_FUZZ_HARNESS=<name>     only that harness (projectdocument, textexpansion, ...)
#   KEST_FUZZ_BUILD_DIR=<dir>    build folder (default build-fuzz)
# What a harness has found so far stays in <build>/fuzz-corpus/<harness>/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
build=${KEST_FUZZ_BUILD_DIR:-build-fuzz}
harnesses=(projectdocument textexpansion catalogue coursescanner variablesfile smtpreply)
[ -n "${KEST_FUZZ_HARNESS:-}" ] && harnesses=("$KEST_FUZZ_HARNESS")

# A few seconds per input, the memory of a small machine, and inputs as big as a course server
# may send.
timeout=5
rss=2048
max_len=$((4 * 1024 * 1024))

export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKEST_FUZZ=ON -DKEST_BUILD_TESTS=OFF \
    -DKEST_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" >/dev/null
cmake --build "$build" -j2 --target kest_fuzzers

build=$(cd "$build" && pwd)
# Stack traces with file and line; Debian keeps the symbolizer out of PATH.
for symbolizer in "$(command -v llvm-symbolizer || true)" /usr/lib/llvm-*/bin/llvm-symbolizer; do
    [ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer && break
done
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export QT_QPA_PLATFORM=offscreen

logs=$build/fuzz-logs
artifacts=$build/fuzz-artifacts
mkdir -p "$logs" "$artifacts"

# Each file of the given paths into dir, named after its path (many are called tavelo.avx).
copy_seeds() {
    local dir=$1 file
    shift
    for file in "$@"; do
        [ -f "$file" ] && cp "$file" "$dir/$(echo "$file" | tr / _)"
    done
    return 0
}

# Several files as one input, NUL between them.
join_seed() {
    local out=$1 file first=1
    shift
    for file in "$@"; do
        [ $first -eq 1 ] || printf '\0'
        cat "$file"
        first=0
    done >"$out"
}

seeds_for() {
    local name=$1 dir=$2
    local installed=tests/data/installation/server/tavelo
    mapfile -t documents < <(find tests/data demo/course -name '*.avx' | sort)
    case $name in
    projectdocument) copy_seeds "$dir" "${documents[@]}" ;;
    textexpansion) copy_seeds "$dir" fuzz/seeds/textexpansion/* ;;
    catalogue)
        copy_seeds "$dir" tests/data/startup/catalogue.xml "$installed/tavelo.xml"
        join_seed "$dir/server-and-local" "$installed/tavelo.xml" tests/data/startup/catalogue.xml
        join_seed "$dir/unchanged" "$installed/tavelo.xml" "$installed/tavelo.xml"
        ;;
    coursescanner)
        copy_seeds "$dir" "${documents[@]}"
        join_seed "$dir/demo" demo/course/tavelo.avx demo/course/variables_win.txt demo/course/texts/pictures.txt
        join_seed "$dir/english" "$installed/english/tavelo.avx" "$installed/english/variables_win.txt" \
            "$installed/english/lists/words.lst"
        ;;
    variablesfile)
        mapfile -t variables < <(find tests/data demo/course -name variables_win.txt | sort)
        copy_seeds "$dir" tests/data/variables/* "${variables[@]}"
        ;;
    smtpreply) copy_seeds "$dir" fuzz/seeds/smtpreply/* ;;
    esac
}

dict_for() {
    case $1 in
    textexpansion) echo fuzz/dict/expression.dict ;;
    variablesfile) echo fuzz/dict/ini.dict ;;
    smtpreply) echo fuzz/dict/smtp.dict ;;
    *) echo fuzz/dict/xml.dict ;;
    esac
}

# The reproducer libFuzzer wrote, or the replayed input itself.
report_failure() {
    local log=$1 input=$2
    grep -E 'ERROR: |SUMMARY: |runtime error|fetched .* twice|Test unit written' "$log" | head -n 8 || true
    local written
    written=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    echo "  reproducer: ${written:-$input}"
    echo "  log:        $log"
}

failed=()
summary=()
for name in "${harnesses[@]}"; do
    binary=$build/fuzz/fuzz_$name
    tmp=$build/fuzz-tmp/$name
    echo "== $name"

    # Inputs that once crashed or hung the player, one process each so that every one is reported.
    for input in fuzz/regression/"$name"/*; do
        [ -f "$input" ] || continue
        log=$logs/replay-$name-$(basename "$input").log
        rm -rf "$tmp" && mkdir -p "$tmp"
        if TMPDIR=$tmp "$binary" -timeout=$timeout -rss_limit_mb=$rss "$input" >"$log" 2>&1; then
            echo "  replay ok:     $input"
        else
            echo "  REPLAY FAILED: $input"
            report_failure "$log" "$root/$input"
            failed+=("$name: $input")
        fi
    done

    [ "$seconds" -gt 0 ] || continue
    seeds=$build/fuzz-seeds/$name
    corpus=$build/fuzz-corpus/$name
    rm -rf "$seeds" "$tmp" && mkdir -p "$seeds" "$corpus" "$tmp"
    seeds_for "$name" "$seeds"
    log=$logs/fuzz-$name.log
    regression=()
    [ -d fuzz/regression/"$name" ] && regression=(fuzz/regression/"$name")
    if TMPDIR=$tmp "$binary" -max_total_time="$seconds" -timeout=$timeout -rss_limit_mb=$rss \
        -max_len=$max_len -dict="$(dict_for "$name")" -artifact_prefix="$artifacts/$name-" \
        -print_final_stats=1 "$corpus" "$seeds" "${regression[@]+"${regression[@]}"}" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
        cov=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
        ft=$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
        units=$(echo "$last" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
        echo "  fuzzed ${seconds}s: $runs runs, cov $cov, ft $ft, corpus $units"
        summary+=("$name runs=$runs cov=$cov ft=$ft corpus=$units")
    else
        echo "  FUZZING FAILED"
        report_failure "$log" ""
        failed+=("$name: fuzzing (see $log)")
    fi
done

echo "== summary"
for line in "${summary[@]+"${summary[@]}"}"; do echo "  $line"; done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failures:" >&2
    for line in "${failed[@]}"; do echo "  $line" >&2; done
    exit 1
fi
echo "No crash, leak, sanitizer report or time-out."
