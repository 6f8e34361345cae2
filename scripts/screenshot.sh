#!/usr/bin/env bash
# Makes docs/screenshot.png, the picture in the README: the evaluator on a virtual X display
# (Xvfb, with openbox drawing the window frame) right after an evaluation, the result tab in
# front. The pattern and the input are typed with xdotool as a user would type them.
#
#   scripts/screenshot.sh [OUTPUT.png] [SCREEN]
#
# SCREEN is the virtual display's size, 1280x720 unless given; the window fills it. With
# QT_SCALE_FACTOR set (1.5 on a 1536x1050 display shows the 1024x700 window of a high-DPI
# screen) the program is scaled as on such a screen.
#
# Installs what it needs on Debian, builds the program in build/ and leaves nothing running.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/screenshot.png}
screen=${2:-1280x720}

scripts/install-dependencies.sh
tools=(xvfb xdotool openbox imagemagick)
missing=()
for package in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The program alone, as scripts/run.sh builds it in the same folder.
cmake -S . -B build -DREGEX_EVALUATOR_TESTS=OFF -DREGEX_EVALUATOR_BENCH=OFF \
  -DREGEX_EVALUATOR_SANITIZE= -DREGEX_EVALUATOR_WERROR=OFF >/dev/null
cmake --build build --target regex-evaluator -j"$(nproc)"

# The first free display number from 90 up.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
export DISPLAY=:$display
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
started+=($!)
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
started+=($!)
sleep 0.5

# Nothing of the user's own settings should change the picture.
XDG_CONFIG_HOME=$(mktemp -d) build/app/regex-evaluator >/dev/null 2>&1 &
started+=($!)
xdotool search --sync --name "^regular expression evaluator$" >/dev/null
sleep 1

xdotool key --clearmodifiers alt+p
xdotool type --delay 15 '(\w+)@([\w.]+)'
xdotool key --clearmodifiers alt+s
xdotool type --delay 5 'Write to ada@example.org, grace@navy.example or linus@kernel.example for the details.'
xdotool key Return
sleep 2
# Open the first match, so that its groups show under it.
xdotool key Right
sleep 0.5

mkdir -p "$(dirname "$output")"
import -window root "$output"
echo "wrote $output"
