#!/usr/bin/env bash
# Converts a set of LUT files with two builds of chromaduct-convert and
# reports every conversion whose output bytes, messages or exit status
# differ: the check that a change which should not change behaviour did not.
#
#   bash scripts/compare-builds.sh OLD_CONVERT NEW_CONVERT [INPUT...] [-- OPTION...]
#
# The inputs default to every file of ../shared/corpus beside the checkout
# and a few generated ones (a 33-point cube, a 33-point 12-bit 3dl, a
# 4,101-entry spi1d). Each input goes to every format that either build can
# write, once with the defaults and once with each option set given after
# "--" (one set per argument, e.g. "--size 17" "--bake"). Exits 1 when
# anything differs.
set -uo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 64
fi
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)

inputs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  inputs+=("$(realpath "$1")")
  shift
done
[ "${1:-}" = "--" ] && shift
optionSets=("")
for set in "$@"; do optionSets+=("$set"); done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ${#inputs[@]} -eq 0 ]; then
  corpus="$top/../shared/corpus"
  if [ -d "$corpus" ]; then
    while IFS= read -r -d '' f; do inputs+=("$f"); done \
      < <(find "$corpus" -type f ! -name LICENSE -print0 | sort -z)
  fi
  python3 - "$work" <<'EOF'
import math, sys
d = sys.argv[1]
n = 33
with open(f"{d}/gen33.cube", "w") as f:
    f.write("LUT_3D_SIZE 33\n")
    for b in range(n):
        for g in range(n):
            for r in range(n):
                x = [r / (n - 1), g / (n - 1), b / (n - 1)]
                f.write("%.6f %.6f %.6f\n" % (x[0] ** 1.2, 0.9 * x[1] + 0.05 * x[0], math.sqrt(x[2])))
with open(f"{d}/gen33.3dl", "w") as f:
    f.write(" ".join(str(round(i * 1023 / (n - 1))) for i in range(n)) + "\n")
    for r in range(n):
        for g in range(n):
            for b in range(n):
                f.write("%d %d %d\n" % (round(4095 * r / (n - 1)), round(4095 * (g / (n - 1)) ** 2), round(4095 * b / (n - 1))))
with open(f"{d}/gen4101.spi1d", "w") as f:
    f.write("Version 1\nFrom 0 1\nLength 4101\nComponents 1\n{\n")
    for i in range(4101):
        f.write("%.7f\n" % ((i / 4100) ** 0.45))
    f.write("}\n")
EOF
  inputs+=("$work/gen33.cube" "$work/gen33.3dl" "$work/gen4101.spi1d")
fi

# Formats either build writes: name and first extension from --formats.
formats=$( { "$old" --formats; "$new" --formats; } | awk -F'\t' '$6 == "yes" { print $2 }' | sort -u)

extension_of() {
  case "$1" in
    cube) echo cube ;; tiled-image|strip-image) echo png ;; hald) echo hald.png ;;
    pandora) echo mga ;; discreet1d|lut1d) echo lut ;; csvlog) echo csv ;;
    *) echo "$1" ;;
  esac
}

total=0
differ=0
for input in "${inputs[@]}"; do
  for format in $formats; do
    for set in "${optionSets[@]}"; do
      total=$((total + 1))
      ext=$(extension_of "$format")
      for build in old new; do
        exe=$old; [ $build = new ] && exe=$new
        out="$work/out.$ext"
        rm -f "$out"
        # shellcheck disable=SC2086
        (cd "$work" && "$exe" $set --to "$format" "$input" "$out" >"$work/$build.stdout" 2>"$work/$build.stderr")
        echo $? >"$work/$build.status"
        [ -f "$out" ] && mv "$out" "$work/$build.out" || rm -f "$work/$build.out"
      done
      same=1
      cmp -s "$work/old.status" "$work/new.status" || same=0
      cmp -s "$work/old.stderr" "$work/new.stderr" || same=0
      if [ -f "$work/old.out" ] || [ -f "$work/new.out" ]; then
        cmp -s "$work/old.out" "$work/new.out" 2>/dev/null || same=0
      fi
      if [ $same = 0 ]; then
        differ=$((differ + 1))
        echo "differs: $(basename "$input") --to $format $set"
        diff <(cat "$work/old.status" "$work/old.stderr") <(cat "$work/new.status" "$work/new.stderr") | head -6
      fi
    done
  done
done
echo "$total conversions, $differ differ"
[ $differ -eq 0 ]
