#!/usr/bin/env bash
# Renders every icon the project ships from the one drawing
# packaging/icons/org.tamberlo.Tamberlo.svg: the hicolor PNG sizes, the window
# icon file, the Windows .ico and the macOS .icns. Needs rsvg-convert (librsvg2-bin) and
# ImageMagick (imagemagick) and png2icns (icnsutils). Run it after changing the drawing; commit the output.
set -euo pipefail
cd "$(dirname "$0")/.."

id=org.tamberlo.Tamberlo
svg=packaging/icons/$id.svg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for size in 16 24 32 48 64 128 256; do
    mkdir -p "packaging/icons/hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" "$svg" -o "packaging/icons/hicolor/${size}x${size}/apps/$id.png"
done
mkdir -p packaging/icons/hicolor/scalable/apps
cp "$svg" "packaging/icons/hicolor/scalable/apps/$id.svg"

rsvg-convert -w 128 -h 128 "$svg" -o icons/us-dollar-photo-12.png

# The Windows icon resource: 32-bit images of 16, 32, 48, 64 and 125 pixels.
ico_parts=()
for size in 16 32 48 64 125; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/$size.png"
    ico_parts+=("$work/$size.png")
done
convert "${ico_parts[@]}" -define bmp:format=bmp4 -depth 8 icons/tamberlo.ico

# The macOS bundle icon.
icns_parts=()
for size in 16 32 48 128 256 512; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/mac-$size.png"
    icns_parts+=("$work/mac-$size.png")
done
png2icns icons/tamberlo.icns "${icns_parts[@]}" >/dev/null
