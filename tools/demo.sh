#!/usr/bin/env bash
# Runs the player as a new user meets it: the demo course (demo/course) is published on a
# private local course server (Apache httpd on loopback, as the tests use it) with a catalogue
# that offers it for every language, and a copy of the player with a kestora.ini beside it
# points there. The player starts with an empty user folder in a private home folder, so the
# learner's own documents are never touched: it fetches the catalogue, installs the course with
# its progress window, then runs it. With a display the player simply opens (pick any language).
# Without one it runs on a virtual X server with the English course remembered and a private
# sound server (whose microphone is a 440 Hz tone), is clicked through the course, and leaves
# screenshots in the folder it names on the last line.
#   KEST_BUILD_DIR=<dir>   build folder (default build/, shared with tools/test.sh)
#   KEST_DEMO_HEADLESS=1   take the virtual display and the screenshots even when DISPLAY is set
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)

tools/deps.sh

build=${KEST_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target kestora -j"$(nproc)"
build=$(cd "$build" && pwd)

# Only these folders are wiped: the private home, the course server's and the player's copy.
home="$build/demo-home"
server="$build/demo-server"
bin="$build/demo-player"
log="$build/demo-player.log"
if [ -f "$server/httpd.pid" ]; then "$source/tools/course-server.sh" stop "$server"; fi
rm -rf -- "$home" "$server" "$bin"
mkdir -p "$home/Documents" "$home/.config" "$server/docroot/tavelo/fruitbasket" "$bin"

xvfb_pid=""
player_pid=""
sound_dir=""
cleanup() {
    if [ -n "$player_pid" ]; then kill "$player_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    if [ -n "$sound_dir" ]; then XDG_RUNTIME_DIR="$sound_dir" pulseaudio --kill >/dev/null 2>&1 || true; fi
    "$source/tools/course-server.sh" stop "$server" || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# The course server: the demo course and a catalogue offering it under every course title.
cp -R demo/course/. "$server/docroot/tavelo/fruitbasket/"
port=$(tools/course-server.sh start "$server" kestor lesson)
host="127.0.0.1:$port"
{
    echo "<!DOCTYPE list>"
    echo "<root>"
    for language in German English Bulgarian Czech Lithuanian Latvian; do
        echo " <project Name=\"TAVELO $language Version\" Folder=\"fruitbasket\">"
        echo "  <part Url=\"http://$host/tavelo/fruitbasket/tavelo.avx\" version=\"1\" main=\"True\"/>"
        echo " </project>"
    done
    echo "</root>"
} >"$server/docroot/tavelo/tavelo.xml"

# The player, pointed at that server by a kestora.ini beside it and by nothing else.
cp "$build/app/kestora" "$bin/kestora"
cat >"$bin/kestora.ini" <<INI
[Deployment]
CourseServerHost=$host
CatalogueUser=kestor
CataloguePassword=lesson
ProbeUrl=http://$host/
INI
player="$bin/kestora"

export HOME="$home"
# The documents folder must come from HOME, not from the desktop's user-dirs settings.
export XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
unset XDG_DOCUMENTS_DIR
# The lines the waits below look for: scene changes of the runtime and the scene's own.
export QT_LOGGING_RULES="kestora.*.debug=true;qml.debug=true"

if [ -n "${DISPLAY:-}" ] && [ "${KEST_DEMO_HEADLESS:-0}" != 1 ]; then
    echo "Starting the player as a new user; it installs the demo course from $host (log: $log)."
    echo "Pick a language, watch the download, then play. Quit with the course's Quit button."
    status=0
    "$player" >"$log" 2>&1 || status=$?
    echo "Course server requests: $server/access.log"
    exit "$status"
fi

# ---- Headless: virtual display, simulated clicks, screenshots ----------------------------

shots="$build/demo-screenshots"
rm -rf -- "$shots"
mkdir -p "$shots"
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$home/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

fail() {
    echo "demo: $*" >&2
    if [ -f "$log" ]; then
        echo "---- last lines of the player's log ($log):" >&2
        tail -n 25 "$log" >&2
        if grep -q "Verbindung Hergestellt? Nein" "$log"; then
            echo "---- The player found its course server at $host offline (see $server/error.log)." >&2
        fi
    fi
    exit 1
}

# A free display number; the lock file is how X servers claim one.
display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >"$build/demo-xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -S "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "the virtual X server did not start (see $build/demo-xvfb.log)"
    sleep 0.1
done
export DISPLAY=":$display"
# The virtual display may lack OpenGL: draw the scene in software.
export QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software

# No dialog on the virtual display: the English course is remembered, as after a first choice.
mkdir -p "$home/Documents/Tavelo"
printf '[User]\ndefaultLoadCourse=TAVELO English Version\ndefaultLoadCoursePath=%s\n' \
    "$home/Documents/Tavelo/fruitbasket/tavelo.avx" >"$home/Documents/Tavelo/Tavelo.ini"

# Sound, speech and the microphone need a sound server; a private one unless one is given.
if [ -z "${PULSE_SERVER:-}" ]; then
    sound_dir="$home/sound"
    eval "$(tools/sound-server.sh "$sound_dir")" || fail "the private sound server did not start"
fi

"$player" >"$log" 2>&1 &
player_pid=$!

# Every scene entry ends with one batch of entities created in the scene.
scenes_shown() {
    grep -c "batchEntityInit end" "$log" 2>/dev/null || true
}

# Waits until the player has entered at least n scenes in all.
wait_for_scenes() {
    local n=$1 what=$2
    for _ in $(seq 200); do
        [ "$(scenes_shown)" -ge "$n" ] && { sleep 0.7; return 0; }
        kill -0 "$player_pid" 2>/dev/null || fail "the player ended while waiting for $what"
        sleep 0.1
    done
    fail "no $what after 20 s"
}

window=""
for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^Tavelo$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$player_pid" 2>/dev/null || fail "the player ended before its window appeared"
    sleep 0.1
done
[ -n "$window" ] || fail "the player's window did not appear within 20 s"
wait_for_scenes 1 "first scene"

# There is no window manager: make the window fill the screen ourselves.
xdotool windowmove "$window" 0 0 windowsize "$window" 1920 1080
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
# The scene is letterboxed at 16:9 inside the window and works in a 1600 x 900 frame.
if [ $((WIDTH * 9)) -gt $((HEIGHT * 16)) ]; then
    scene_h=$HEIGHT scene_w=$((HEIGHT * 16 / 9))
else
    scene_w=$WIDTH scene_h=$((WIDTH * 9 / 16))
fi
scene_x=$((X + WIDTH / 2 - scene_w / 2))
scene_y=$((Y + HEIGHT / 2 - scene_h / 2))

# Screen position of a point of the 1600 x 900 frame.
at() {
    echo "$((scene_x + $1 * scene_w / 1600)) $((scene_y + $2 * scene_h / 900))"
}

click() {
    # shellcheck disable=SC2046
    xdotool mousemove $(at "$1" "$2") sleep 0.1 click 1
    sleep 0.4
}

# Presses at the first point, moves in steps to the second, takes a screenshot on the way
# and lets go there.
drag() {
    local x0=$1 y0=$2 x1=$3 y1=$4 shot=$5 i
    # shellcheck disable=SC2046
    xdotool mousemove $(at "$x0" "$y0") sleep 0.1 mousedown 1
    for i in $(seq 1 20); do
        # shellcheck disable=SC2046
        xdotool mousemove $(at $((x0 + (x1 - x0) * i / 20)) $((y0 + (y1 - y0) * i / 20))) sleep 0.03
        [ "$i" -eq 16 ] && screenshot "$shot"
    done
    xdotool mouseup 1
}

screenshot() {
    import -window root "$shots/$1.png"
    echo "  $1.png"
}

# Waits until the log holds a line with text more often than it did when $2 was counted.
wait_for_log() {
    local text=$1 before=$2 what=$3 seconds=$4
    for _ in $(seq $((seconds * 10))); do
        [ "$(grep -cF -- "$text" "$log" 2>/dev/null || true)" -gt "$before" ] && return 0
        kill -0 "$player_pid" 2>/dev/null || fail "the player ended while waiting for $what"
        sleep 0.1
    done
    fail "no $what after $seconds s"
}
count_log() {
    grep -cF -- "$1" "$log" 2>/dev/null || true
}

echo "Playing the demo course headless; screenshots:"
screenshot 01-welcome
seen=$(scenes_shown)

click 800 745 # Start
wait_for_scenes $((seen + 1)) "Pictures scene"
screenshot 02-pictures
seen=$(scenes_shown)

# The first reading also waits for the speech engine, which takes a while to learn its voices.
read_before=$(count_log "kestEndOfTextToSpeech()!")
click 800 765 # Read aloud
wait_for_log "kestEndOfTextToSpeech()!" "$read_before" "end of the reading" 120

# The pictures change places on every visit; any three clicks on them go on.
click 380 530
click 800 530 # the label above counts the clicks
screenshot 03-counting
click 380 530
wait_for_scenes $((seen + 1)) "Basket scene"
screenshot 04-basket
seen=$(scenes_shown)

restored=$(count_log "[LIB] RestoreEntityPos (PearToDrag)")
drag 500 550 1200 600 05-dragging-pear # the pear into the basket: it goes back
wait_for_log "[LIB] RestoreEntityPos (PearToDrag)" "$restored" "pear put back" 20
sleep 0.5
drag 250 550 1200 600 06-dragging-apple # the apple into the basket: a sound, then on
wait_for_scenes $((seen + 1)) "Well done scene"
screenshot 07-well-done
seen=$(scenes_shown)

played=$(count_log "Stopping my Loop! File: file://$home/Documents/Tavelo/fruitbasket/recordings/apple.wav")
click 420 735 # Record
sleep 3
screenshot 08-recording
click 1180 735 # Listen: ends the recording and plays it back
wait_for_log "Stopping my Loop! File: file://$home/Documents/Tavelo/fruitbasket/recordings/apple.wav" "$played" "played-back recording" 30

click 800 735 # Next
wait_for_scenes $((seen + 1)) "Quiz scene"
screenshot 09-quiz
seen=$(scenes_shown)

click 1060 695 # 4: wrong
wait_for_scenes $((seen + 1)) "Not quite scene"
screenshot 10-not-quite
seen=$(scenes_shown)

click 800 555 # Try again
wait_for_scenes $((seen + 1)) "Quiz scene"
seen=$(scenes_shown)

click 800 695 # 3: right
wait_for_scenes $((seen + 1)) "All done scene"
screenshot 11-all-done
seen=$(scenes_shown)

click 1305 50 # Help
sleep 1
screenshot 12-help
click 1430 160 # the help page's cross
sleep 1

# The player, told to quit by the course, ends within 10 s with status 0.
expect_quit() {
    for _ in $(seq 100); do
        kill -0 "$player_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$player_pid" 2>/dev/null && fail "the player did not quit from its Quit button"
    local status=0
    wait "$player_pid" || status=$?
    player_pid=""
    [ "$status" -eq 0 ] || fail "the player ended with status $status"
}

click 105 50 # Home: the welcome scene sends a returning learner on
wait_for_scenes $((seen + 2)) "Welcome back scene"
screenshot 13-welcome-back

click 1495 50 # Quit
expect_quit

# ---- The same course with the keyboard alone ----------------------------------------------
# A second run, as the returning learner: no pointer at all. Tab moves the focus ring, Enter
# presses, Enter on a draggable picture picks it up and Enter on the basket drops it there, F2
# reads the focus aloud and Escape silences a reading.

log="$build/demo-player-keys.log"
"$player" >"$log" 2>&1 &
player_pid=$!
window=""
for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^Tavelo$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$player_pid" 2>/dev/null || fail "the player ended before its window appeared"
    sleep 0.1
done
[ -n "$window" ] || fail "the player's window did not appear within 20 s"
# Without a window manager nobody gives the window the keyboard: as a desktop would.
xdotool windowmove "$window" 0 0 windowsize "$window" 1920 1080 windowfocus --sync "$window"
wait_for_scenes 3 "Welcome back scene" # the menu bar, Welcome, Welcome back

# Tab until the focus ring is on the named entity (the pictures change places on every visit).
focus_on() {
    local name=$1
    for _ in $(seq 30); do
        xdotool key Tab
        sleep 0.2
        [ "$(grep -F "[KEYS] Focus: " "$log" | tail -n 1 | sed 's/.*Focus: //')" = "$name" ] && return 0
    done
    fail "Tab never reached $name"
}
press() {
    focus_on "$1"
    xdotool key Return
    sleep 0.4
}

echo "Playing it again with the keyboard alone:"
seen=$(scenes_shown)
focus_on Headline
xdotool key F2 # self-voicing on: the focus is read aloud from now on
press PlayAgain
wait_for_scenes $((seen + 1)) "Pictures scene"
seen=$(scenes_shown)
stopped=$(count_log "kestEndTextToSpeech")
press ReadAloud
xdotool key Escape # the reading stops
wait_for_log "kestEndTextToSpeech" "$stopped" "reading stopped by Escape" 20
press Apple
press Pear
press Cherry
wait_for_scenes $((seen + 1)) "Basket scene"
seen=$(scenes_shown)
press AppleToDrag # picked up
focus_on Basket
screenshot 14-keys-apple-picked-up
xdotool key Return # dropped into the basket
wait_for_scenes $((seen + 1)) "Well done scene"
seen=$(scenes_shown)
press Next
wait_for_scenes $((seen + 1)) "Quiz scene"
seen=$(scenes_shown)
press Answer3
wait_for_scenes $((seen + 1)) "All done scene"
screenshot 15-keys-all-done
echo "  read aloud for the learner: $(count_log "Self-voicing says: ") texts"
press MenuQuit
expect_quit

echo "What the course kept in its settings file ($home/Documents/Tavelo/Tavelo.ini):"
sed 's/^/  /' "$home/Documents/Tavelo/Tavelo.ini"
echo "Installed from the course server: $(grep -c ' 200$' "$server/access.log") files (log: $server/access.log)"
recording=$(find "$home/Documents/Tavelo" -name apple.wav -print -quit)
[ -n "$recording" ] && echo "The learner's recording: $recording ($(stat -c %s "$recording") bytes)"
echo "Screenshots: $shots"
