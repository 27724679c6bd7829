#!/usr/bin/env bash
# StuffIt archives: mwconv --identify (which decodes every fork to hash it)
# against unar extracting the same archive to a folder, one hyperfine run
# per archive of the corpus (median of RUNS runs, 10 unless told).
#   bench/stuffit.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-10}
corpus=../shared/corpus/containers
for tool in hyperfine unar; do
  command -v "$tool" >/dev/null || { echo "stuffit.sh: $tool is missing (apt-get install hyperfine unar)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $runs runs"
for archive in "$corpus"/*.sit; do
  hyperfine --warmup 2 --runs "$runs" --style basic \
    -n "mwconv --identify $(basename "$archive")" "$build/mwconv --identify '$archive'" \
    -n "unar $(basename "$archive")" --prepare "rm -rf '$work/out'" "unar -q -o '$work/out' '$archive'"
done
