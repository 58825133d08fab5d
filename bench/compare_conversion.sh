#!/usr/bin/env bash
# Times the conversion of a folder of photographic 1024 x 1024 BMP files into icons of
# 16, 32, 48 and 256 pixels at 32 bits (the 256 image PNG-compressed) with Glyphmill and with
# ImageMagick, single-threaded and as each runs by default, and checks the icons with
# independent readers.
#
#   bench/compare_conversion.sh [GLYPHMILL_BINARY] [COUNT]
#
# Build the binary in release mode first:
#   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLYPHMILL_TESTS=OFF
#   cmake --build build-release --target glyphmill
set -euo pipefail
glyphmill="$(realpath "${1:-build-release/glyphmill}")"
count="${2:-50}"
convert=/usr/bin/convert
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/ours" "$work/theirs"

echo "making $count photographic 1024x1024 BMP files in $work/src" >&2
for i in $(seq -w 1 "$count"); do
  "$convert" -seed "$i" -size 1024x1024 plasma:fractal -blur 0x1 -type TrueColor "BMP3:$work/src/photo$i.bmp"
done

seconds() { # runs "$@" and prints the wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

imagemagick_all() { # $1: extra options before the input
  for f in "$work"/src/*.bmp; do
    "$convert" $1 "$f" -define icon:auto-resize=256,48,32,16 "$work/theirs/$(basename "${f%.bmp}").ico"
  done
}

ours=$(seconds "$glyphmill" "$work/src/*.bmp" -sz=16,32,48,256 "-d=$work/ours" -o)
theirs_single=$(seconds imagemagick_all "-limit thread 1")
theirs_default=$(seconds imagemagick_all "")

printf 'files: %s\n' "$count"
printf 'glyphmill (one thread):           %6.2f s\n' "$ours"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'ImageMagick -limit thread 1:      %6.2f s  (%s times ours)\n' "$theirs_single" "$(ratio "$theirs_single" "$ours")"
printf 'ImageMagick default threads:      %6.2f s  (%s times ours)\n' "$theirs_default" "$(ratio "$theirs_default" "$ours")"

echo "checking our icons with independent readers" >&2
bad=0
for f in "$work"/ours/*.ico; do
  /usr/bin/identify "$f" >/dev/null 2>&1 || { echo "identify rejects $f"; bad=1; }
  icotool -l "$f" >/dev/null 2>&1 || { echo "icotool rejects $f"; bad=1; }
done
/usr/bin/python3 - "$work/ours" <<'PY' || bad=1
import sys, pathlib
from PIL import Image
for path in pathlib.Path(sys.argv[1]).glob("*.ico"):
    sizes = Image.open(path).ico.sizes()
    assert sizes == {(16, 16), (32, 32), (48, 48), (256, 256)}, (path, sizes)
PY
exit "$bad"
