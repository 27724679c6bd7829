#!/usr/bin/env bash
# A 100 MB zlib .dmg converted in one command against extracting it with
# 7-Zip first, side by side in one hyperfine run (median of RUNS runs, 3
# unless told):
#   - mwconv -o out/ disk.dmg;
#   - 7z x, then mwconv on each extracted file (one process per file, as a
#     shell loop does it: the way of bench/disk_images.sh);
#   - 7z x, then mwconv -o out/ on the extracted folder (one process).
# The image is make_dmg's: a GPT disk with one HFS Plus volume holding 1,000
# MacWrite documents (the builders' seeds and the bundled example, copied
# round) in 20 folders and 95 files of 1 MiB of random bytes, in zlib
# chunks of 1 MiB.  7-Zip must extract from it every document as it went
# in before anything is timed; all three ways must write the same texts;
# the peak memory of each is measured apart with /usr/bin/time.
#
#   bench/dmg.sh [BUILD_DIR] [RUNS]
# BUILD_DIR needs mwconv, make_seeds and make_dmg (-DMWCONV_BENCHMARKS=ON).
# Needs hyperfine and 7z.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
for tool in hyperfine 7z; do
  command -v "$tool" >/dev/null || { echo "dmg.sh: $tool is missing (apt-get install hyperfine 7zip)" >&2; exit 1; }
done
for program in mwconv make_seeds make_dmg; do
  [ -x "$build/$program" ] || { echo "dmg.sh: $build/$program is missing (configure with -DMWCONV_BENCHMARKS=ON)" >&2; exit 1; }
done
mwconv=$build/mwconv
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/seeds"
"$build/make_seeds" "$work/seeds"
cp examples/welcome.mw5 "$work/seeds/"
seeds=("$work"/seeds/macwrite* "$work"/seeds/welcome.mw5)
"$build/make_dmg" 1000 95 "$work/disk.dmg" "${seeds[@]}"

# 7-Zip first: the image must give back what went in.
7z x -y -o"$work/check" "$work/disk.dmg" >/dev/null
for i in $(seq 0 999); do
  cmp -s "$work/check/Test/Folder $((i % 20 + 1))/Document $i" "${seeds[$((i % ${#seeds[@]}))]}" ||
    { echo "dmg.sh: 7-Zip does not extract Document $i as it went in" >&2; exit 1; }
done
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r), median of $runs runs"
echo "== disk.dmg: $(($(stat -c %s "$work/disk.dmg") / 1000000)) MB, $(find "$work/check" -type f | wc -l) files; 7-Zip extracts every document as it went in"

cat > "$work/each.sh" <<'SCRIPT'
#!/usr/bin/env bash
# each.sh IMAGE OUT MWCONV CONVERT_EACH: 7z x, then mwconv on each extracted file.
set -u
image=$1 out=$2 mwconv=$3 convert_each=$4
rm -rf "$out.files" "$out" && mkdir -p "$out"
7z x -y -o"$out.files" "$image" >/dev/null
"$convert_each" "$out.files/Test" "$out" "$mwconv"
SCRIPT
cat > "$work/folder.sh" <<'SCRIPT'
#!/usr/bin/env bash
# folder.sh IMAGE OUT MWCONV: 7z x, then mwconv on the extracted folder.
set -u
image=$1 out=$2 mwconv=$3
rm -rf "$out.files" "$out"
7z x -y -o"$out.files" "$image" >/dev/null
"$mwconv" -q -o "$out/" "$out.files/Test"
SCRIPT
chmod +x "$work/each.sh" "$work/folder.sh"

hyperfine --warmup 1 --runs "$runs" \
  -n "mwconv -o out/ disk.dmg" "rm -rf $work/one && $mwconv -q -o $work/one/ $work/disk.dmg" \
  -n "7z x, then mwconv on each file" "$work/each.sh $work/disk.dmg $work/each $mwconv $PWD/bench/convert_each.sh" \
  -n "7z x, then mwconv on the folder" "$work/folder.sh $work/disk.dmg $work/folder $mwconv"

# Peak memory (maximum resident set), each way apart.
rm -rf "$work/one"
/usr/bin/time -f "peak memory: mwconv -o out/ disk.dmg: %M KB" "$mwconv" -q -o "$work/one/" "$work/disk.dmg"
/usr/bin/time -f "peak memory: 7z x disk.dmg: %M KB" 7z x -y -o"$work/mem" "$work/disk.dmg" >/dev/null
/usr/bin/time -f "peak memory: mwconv -o out/ on the extracted folder: %M KB" "$mwconv" -q -o "$work/mem-out/" "$work/mem/Test"

# The same texts every way.
for way in each folder; do
  if diff -r "$work/one/disk.dmg" "$work/$way" >/dev/null; then
    echo "the texts written by mwconv on disk.dmg and by '$way' are identical ($(find "$work/$way" -type f | wc -l) files)"
  else
    echo "the texts written by mwconv on disk.dmg and by '$way' differ:"; diff -rq "$work/one/disk.dmg" "$work/$way" | head -5 || true
  fi
done
