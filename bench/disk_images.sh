#!/usr/bin/env bash
# Disk images converted in one command against what a person does without
# it: extracting every file with hfsutils (hcopy -r) and running mwconv on
# each, in one hyperfine run per image (median of RUNS runs, 5 unless told):
#   - a 1440K HFS floppy with 40 MacWrite documents in 4 folders;
#   - a 20 MB HFS hard disk with 400 documents in 20 folders and 12 MB of
#     other files (applications, pictures: here random bytes).
# The documents are the builders' MacWrite seeds and the bundled example,
# copied round.
# Both ways must write the same texts; the script compares them.
#
#   bench/disk_images.sh [BUILD_DIR] [RUNS]
# BUILD_DIR needs mwconv and make_seeds.  Needs hyperfine and hfsutils.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-5}
for tool in hyperfine hformat hcopy; do
  command -v "$tool" >/dev/null || { echo "disk_images.sh: $tool is missing (apt-get install hyperfine hfsutils)" >&2; exit 1; }
done
mwconv=$build/mwconv
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# hfsutils keeps its current volume in $HOME/.hcwd and writes local times.
export HOME=$work TZ=UTC

mkdir -p "$work/seeds"
"$build/make_seeds" "$work/seeds"
cp examples/welcome.mw5 "$work/seeds/"
seeds=("$work"/seeds/macwrite* "$work"/seeds/welcome.mw5)

# make_image NAME KILOBYTES FOLDERS DOCUMENTS OTHER_MB: the image and, in
# NAME.files, the Mac path of every file on it.
make_image() {
  local name=$1 kilobytes=$2 folders=$3 documents=$4 other=$5 image=$work/$1.img
  truncate -s "${kilobytes}K" "$image"
  hformat -l "$name" "$image" >/dev/null
  : > "$work/$name.files"
  for f in $(seq 1 "$folders"); do hmkdir ":Folder $f"; done
  for i in $(seq 0 $((documents - 1))); do
    local path=":Folder $((i % folders + 1)):Document $i"
    hcopy -r "${seeds[$((i % ${#seeds[@]}))]}" "$path"
    hattrib -t WORD -c MACA "$path"
    echo "$path" >> "$work/$name.files"
  done
  for i in $(seq 1 "$other"); do
    head -c 1048576 /dev/urandom > "$work/other"
    hcopy -r "$work/other" ":Other $i"
    echo ":Other $i" >> "$work/$name.files"
  done
  humount
}

# What a person does today: every file out with hcopy, then mwconv on each.
cat > "$work/by_hand.sh" <<'SCRIPT'
#!/usr/bin/env bash
# by_hand.sh IMAGE FILE_LIST OUT MWCONV CONVERT_EACH
set -u
image=$1 list=$2 out=$3 mwconv=$4 convert_each=$5
rm -rf "$out.files" "$out" && mkdir -p "$out.files" "$out"
hmount "$image" >/dev/null
while IFS= read -r path; do
  rel=${path#:}; rel=${rel//:/\/}
  mkdir -p "$out.files/$(dirname "$rel")"
  hcopy -r "$path" "$out.files/$rel"
done < "$list"
humount >/dev/null
"$convert_each" "$out.files" "$out" "$mwconv"
SCRIPT
chmod +x "$work/by_hand.sh"

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r), median of $runs runs"
make_image floppy 1440 4 40 0
make_image harddisk 20480 20 400 12

for name in floppy harddisk; do
  image=$work/$name.img
  # Some seeds are damaged on purpose: mwconv then exits with 3, in both ways.
  "$mwconv" -q -o "$work/check/" "$image" >/dev/null 2>&1 || true
  if [ ! -d "$work/check/$name.img" ]; then
    echo "disk_images.sh: $mwconv does not convert disk images (the container walker is missing)" >&2
    exit 1
  fi
  echo "== $name: $(($(stat -c %s "$image") / 1024)) KB, $(wc -l < "$work/$name.files") files"
  hyperfine --ignore-failure --warmup 1 --runs "$runs" \
    -n "mwconv -o out/ $name.img" "rm -rf $work/one && $mwconv -q -o $work/one/ $image" \
    -n "hcopy -r each file, then mwconv on each" "$work/by_hand.sh $image $work/$name.files $work/hand $mwconv $PWD/bench/convert_each.sh"
  # The same texts both ways (the image's own folder level aside).
  if diff -r "$work/one/$name.img" "$work/hand" >/dev/null; then
    echo "the texts written both ways are identical"
  else
    echo "the texts written both ways differ:"; diff -rq "$work/one/$name.img" "$work/hand" | head -5 || true
  fi
done
