#!/bin/sh
# Draws the sonogram (frequency over time) of a bundled example into
# docs/ode_to_joy.png, the picture the README shows beside the score.
# Needs sox (its effect for this picture is named below); run from anywhere:
#   sh docs/draw_sonogram.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target score2wav >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/examples/ode_to_joy.txt" "$work/"
"$root/build/score2wav" "$work/ode_to_joy.txt" </dev/null >/dev/null
sox "$work/ode_to_joy.wav" -n rate 8000 spectrogram -x 800 -y 257 -z 80 \
  -t "examples/ode_to_joy.txt" -c "score2wav: 8000 Hz, 8-bit" -o "$root/docs/ode_to_joy.png"
echo "wrote docs/ode_to_joy.png"
