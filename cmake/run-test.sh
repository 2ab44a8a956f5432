#!/bin/sh
# Runs one test executable with a temporary HOME that is removed afterwards.
home=$(mktemp -d "${TMPDIR:-/tmp}/kest-home.XXXXXX") || exit 1
trap 'rm -rf "$home"' EXIT
export HOME="$home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_DOCUMENTS_DIR
# A private runtime folder unless the test command gave one (it holds the sound server's socket).
if [ -z "$XDG_RUNTIME_DIR" ]; then
    export XDG_RUNTIME_DIR="$home/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
# Sanitizer suppressions cover Qt's own code only (see the files).
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS }suppressions=$KEST_SUPPRESSIONS_DIR/lsan.supp print_suppressions=0"
# Full stacks, so that suppressions can recognise allocations made inside Qt's libraries.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS }fast_unwind_on_malloc=0"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS }suppressions=$KEST_SUPPRESSIONS_DIR/tsan.supp halt_on_error=1 second_deadlock_stack=1"
"$@"
