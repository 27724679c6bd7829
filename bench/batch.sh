#!/usr/bin/env bash
# A batch of 1,000 small documents (the bundled example and the builders'
# seeds, copied round), converted to text with -j 1 and with -j 2, side by
# side in one hyperfine run.
#   bench/batch.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/seeds" "$work/archive"
"$build/make_seeds" "$work/seeds"
cp examples/welcome.mw5 "$work/seeds/"
seeds=("$work"/seeds/*)
for i in $(seq 0 999); do
  cp "${seeds[$((i % ${#seeds[@]}))]}" "$work/archive/doc$i"
done
hyperfine --warmup 1 --runs 7 \
  -n "jobs 1" "$build/mwconv -q --force -j 1 -o $work/out1 $work/archive" \
  -n "jobs 2" "$build/mwconv -q --force -j 2 -o $work/out2 $work/archive"
diff -r "$work/out1" "$work/out2" && echo "outputs of -j 1 and -j 2 are identical"
