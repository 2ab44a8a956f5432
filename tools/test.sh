#!/usr/bin/env bash
# The test command: installs what is missing, builds, starts the sound server and runs the suite.
#   KEST_SANITIZE=address|thread  build with sanitizers (in build-<kind>/)
#   KEST_TEST_LABEL=<label>       run only tests with that label (ctest -L)
#   KEST_FUZZ_SECONDS=<n>         fuzz each harness n s after the suite (default 20; 0 only replays)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/deps.sh

sanitize=${KEST_SANITIZE:-}
case "$sanitize" in
    "") options=(-DKEST_ASAN=OFF -DKEST_TSAN=OFF) ;;
    address) options=(-DKEST_ASAN=ON -DKEST_TSAN=OFF) ;;
    thread) options=(-DKEST_ASAN=OFF -DKEST_TSAN=ON) ;;
    *) echo "KEST_SANITIZE must be empty, address or thread" >&2; exit 2 ;;
esac
build=${KEST_BUILD_DIR:-build${sanitize:+-$sanitize}}
cmake -S . -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

runtime=$(mktemp -d /tmp/kest-sound.XXXXXX)
cleanup() {
    XDG_RUNTIME_DIR="$runtime" pulseaudio --kill >/dev/null 2>&1 || true
    rm -rf "$runtime"
}
trap cleanup EXIT
eval "$(tools/sound-server.sh "$runtime")"

cd "$build"
ctest --output-on-failure -j"$(nproc)" ${KEST_TEST_LABEL:+-L "$KEST_TEST_LABEL"}

# The fuzz harnesses (tools/fuzz.sh, own build folder): every input that once crashed or hung the
# player is replayed, then each harness is fuzzed briefly. Not with a label: that is a partial run.
if [ -z "${KEST_TEST_LABEL:-}" ]; then
    cd "$root"
    tools/fuzz.sh "${KEST_FUZZ_SECONDS:-20}"
fi
