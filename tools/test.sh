#!/usr/bin/env bash
# The test command: installs what is missing, builds with warnings as errors and runs the suite
# (CTest checks the sources against .clang-format and starts the private sound server itself).
#   KEST_SANITIZE=address|thread  build with sanitizers (in build-<kind>/)
#   KEST_TEST_LABEL=<label>       run only tests with that label (ctest -L)
#   KEST_WERROR=OFF               let warnings pass (they fail the build by default)
#   KEST_FUZZ_SECONDS=<n>         fuzz each harness n s after the suite (default 20; 0 only replays)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/deps.sh
# Before the long build: a source that .clang-format would change fails the run at once.
tools/check-format.sh

sanitize=${KEST_SANITIZE:-}
case "$sanitize" in
    "") options=(-DKEST_ASAN=OFF -DKEST_TSAN=OFF) ;;
    address) options=(-DKEST_ASAN=ON -DKEST_TSAN=OFF) ;;
    thread) options=(-DKEST_ASAN=OFF -DKEST_TSAN=ON) ;;
    *) echo "KEST_SANITIZE must be empty, address or thread" >&2; exit 2 ;;
esac
build=${KEST_BUILD_DIR:-build${sanitize:+-$sanitize}}
cmake -S . -B "$build" -G Ninja "${options[@]}" -DKEST_WERROR="${KEST_WERROR:-ON}" >/dev/null
cmake --build "$build" -j"$(nproc)"

cd "$build"
ctest --output-on-failure -j"$(nproc)" ${KEST_TEST_LABEL:+-L "$KEST_TEST_LABEL"}

# The fuzz harnesses (tools/fuzz.sh, own build folder): every input that once crashed or hung the
# player is replayed, then each harness is fuzzed briefly. Not with a label: that is a partial run.
if [ -z "${KEST_TEST_LABEL:-}" ]; then
    cd "$root"
    tools/fuzz.sh "${KEST_FUZZ_SECONDS:-20}"
fi
