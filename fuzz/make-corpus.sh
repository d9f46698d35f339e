#!/usr/bin/env bash
# Makes the fuzz targets' seed corpus, fuzz/corpus/preset-*.abf: every abfgen preset,
# valid and malformed, made small enough (below 64 KB) by fewer samples, sweeps or
# tags where the preset alone is larger; and fuzz/corpus/cut-*.abf, valid ones cut
# short. Run it again when abfgen or the writer
# changes. The regression inputs (fuzz/corpus/regression-*) are kept as they are.
#   fuzz/make-corpus.sh [ABFGEN]   (default: build/native/bin/abfgen)
set -euo pipefail
cd "$(dirname "$0")/.."
abfgen=${1:-build/native/bin/abfgen}
out=fuzz/corpus
limit=65535
[ -x "$abfgen" ] || { echo "no abfgen at $abfgen (build the native preset first)" >&2; exit 1; }
mkdir -p "$out"
rm -f "$out"/preset-*.abf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Ways to make a preset smaller, tried in order until the file is small enough.
shrink=(
  ""
  "--samples 2000"
  "--episodes 3 --episode-samples 600"
  "--episodes 3 --episode-lengths 300,700,500"
  "--samples 2000 --channels 4"
)
kept=0
skipped=()
for preset in $("$abfgen" --list-presets | awk '{print $1}'); do
  made=""
  for opts in "${shrink[@]}"; do
    # shellcheck disable=SC2086  # the options are words
    if "$abfgen" --preset "$preset" $opts "$tmp/f.abf" >/dev/null 2>&1 &&
       [ "$(stat -c %s "$tmp/f.abf")" -le $limit ]; then
      mv "$tmp/f.abf" "$out/preset-$preset.abf"
      made=1
      break
    fi
    rm -f "$tmp/f.abf"
  done
  if [ -n "$made" ]; then kept=$((kept + 1)); else skipped+=("$preset"); fi
done
# Valid recordings cut short at a quarter, a half and three quarters of their
# bytes: headers that promise more sweeps, tags and samples than the file holds.
rm -f "$out"/cut-*.abf
cuts=0
for preset in step-protocol variable-events fixed-events tag-types float32-episodic abf1-episodic abf1-events; do
  src="$out/preset-$preset.abf"
  [ -f "$src" ] || continue
  size=$(stat -c %s "$src")
  for quarter in 1 2 3; do
    head -c $((size * quarter / 4)) "$src" >"$out/cut-$preset-$quarter.abf"
    cuts=$((cuts + 1))
  done
done
echo "$kept presets and $cuts cut recordings in $out/ ($(du -sh "$out" | cut -f1)); too large to keep: ${skipped[*]:-none}"
