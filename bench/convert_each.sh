#!/usr/bin/env bash
# mwconv on every file below FOLDER, one process each, as a shell loop
# converts the files extracted from an image; OUT mirrors FOLDER, every
# file's text as NAME.txt.  Used by bench/disk_images.sh and bench/dmg.sh.
#   bench/convert_each.sh FOLDER OUT MWCONV
set -u
folder=$1 out=$2 mwconv=$3
cd "$folder" || exit 1
find . -type f | while IFS= read -r f; do
  mkdir -p "$out/$(dirname "$f")"
  "$mwconv" -q -o "$out/$f.txt" "$f" 2>/dev/null || true
done
