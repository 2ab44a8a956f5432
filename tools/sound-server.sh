#!/usr/bin/env bash
# Starts a private PulseAudio daemon with a null sink and a 440 Hz sine source named "mic",
# and prints the environment lines that point clients at it. Usage: eval "$(tools/sound-server.sh DIR)"
set -euo pipefail
dir=${1:?runtime folder}
mkdir -p "$dir" && chmod 700 "$dir"
export XDG_RUNTIME_DIR="$dir"
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes \
    --load="module-null-sink sink_name=nul" \
    --load="module-sine-source source_name=mic frequency=440" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse-native" \
    >"$dir/pulseaudio.log" 2>&1 || { cat "$dir/pulseaudio.log" >&2; exit 1; }
for _ in $(seq 50); do
    [ -S "$dir/pulse-native" ] && break
    sleep 0.1
done
echo "export XDG_RUNTIME_DIR='$dir'"
echo "export PULSE_SERVER='unix:$dir/pulse-native'"
