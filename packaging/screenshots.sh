#!/usr/bin/env bash
# Takes the README's screenshots of the real program on a virtual X server:
# the Text Watcher page with a log, the Image Watcher page with a plot.
# Needs xvfb and imagemagick; builds like ./run first.
set -euo pipefail
TAMBERLO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TAMBERLO_ROOT/tools/setup.sh"
tamberlo_install_packages "${tamberlo_build_packages[@]}" xvfb xauth imagemagick
tamberlo_build "$TAMBERLO_ROOT/build" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for step in $(seq 1 18); do
    printf '2026-12-11 14:%02d:%02d  epoch %3d  loss %.4f  accuracy %.3f\n' \
        $((step / 4)) $((step * 7 % 60)) "$step" "$(echo "1.9 / ($step + 1)" | bc -l)" \
        "$(echo "0.52 + $step * 0.024" | bc -l)"
done > "$work/training.log"

curve=$(awk 'function y(x) { return 120 - 80 * sin(x / 40) * exp(-x / 300) }
    BEGIN { for (x = 0; x < 400; x += 4) printf "line %d,%d %d,%d ", 30 + x, y(x), 34 + x, y(x + 4) }')
convert -size 450x240 xc:white \
    -stroke '#444' -strokewidth 1 -draw 'line 30,20 30,210' -draw 'line 30,120 440,120' \
    -fill none -stroke '#1f77b4' -strokewidth 3 -draw "$curve" \
    "$work/plot.png"

shoot() {
    xvfb-run -a -s '-screen 0 498x370x24' bash -c '
        "$1" "$2" & pid=$!
        sleep 2
        import -window root "$3"
        kill "$pid"' shoot "$TAMBERLO_ROOT/build/src/tamberlo" "$1" "$2"
}
mkdir -p "$TAMBERLO_ROOT/docs"
shoot "$work/training.log" "$TAMBERLO_ROOT/docs/text-watcher.png"
shoot "$work/plot.png" "$TAMBERLO_ROOT/docs/image-watcher.png"
