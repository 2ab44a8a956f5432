#!/usr/bin/env bash
# Starts a private PulseAudio daemon with a null sink and a 440 Hz sine source named "mic",
# and prints the environment lines that point clients at it. Usage: eval "$(tools/sound-server.sh DIR)"
# "tools/sound-server.sh --stop DIR" ends the daemon of DIR. CTest runs both around the sound tests.
set -euo pipefail
if [ "${1:-}" = --stop ]; then
    dir=${2:?runtime folder}
    XDG_RUNTIME_DIR="$dir" pulseaudio --kill >/dev/null 2>&1 || true
    exit 0
fi
dir=${1:?runtime folder}
command -v pulseaudio >/dev/null || { echo "No pulseaudio: the sound tests need it (tools/deps.sh installs it)" >&2; exit 1; }
mkdir -p "$dir" && chmod 700 "$dir"
export XDG_RUNTIME_DIR="$dir"
# A daemon left in this folder by an interrupted run would refuse the new one: end it first.
if pulseaudio --check 2>/dev/null; then
    pulseaudio --kill || true
    for _ in $(seq 50); do
        pulseaudio --check 2>/dev/null || break
        sleep 0.1
    done
fi
rm -f "$dir/pulse-native"
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes \
    --load="module-null-sink sink_name=nul" \
    --load="module-sine-source source_name=mic frequency=440" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse-native" \
    </dev/null >"$dir/pulseaudio.log" 2>&1 || { cat "$dir/pulseaudio.log" >&2; exit 1; }
for _ in $(seq 100); do
    [ -S "$dir/pulse-native" ] && break
    sleep 0.1
done
[ -S "$dir/pulse-native" ] || { echo "The sound server did not open $dir/pulse-native:" >&2; cat "$dir/pulseaudio.log" >&2; exit 1; }
echo "export XDG_RUNTIME_DIR='$dir'"
echo "export PULSE_SERVER='unix:$dir/pulse-native'"
