#!/usr/bin/env bash
# Builds the fuzz targets (every fuzz/*.cpp with a libFuzzer entry) with
# clang's libFuzzer (ASan + UBSan) and runs each for SECONDS seconds (default
# 30) on the seeds given as folders: documents for the imports, pictures for
# the picture reader, containers for the container walks (each target may
# start from all of them).
#   fuzz/run.sh [SECONDS] [SEED_DIR...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
out=build-fuzz
mkdir -p "$out"
# pict/png_zlib.cpp writes PNG only where libpng is missing (the Windows build);
# the PDF renderer (cairo and pango) is left out: no target renders PDF.
common=(host/*.cpp catalogue/catalogue.cpp catalogue/identify.cpp macwrite2/*.cpp macwrite5/*.cpp macwrite22/*.cpp mactext/*.cpp
        $(ls render/*.cpp | grep -v '/pdf[^/]*\.cpp$')
        $(ls pict/*.cpp | grep -v '/png_zlib\.cpp$') containers/*.cpp containers/decoders/*.cpp)
# libzip and libarchive are loaded at run time by their SONAMEs, as CMake finds them.
soname() { objdump -p "$(clang++ -print-file-name="$1")" | awk '/SONAME/ {print $2}'; }
flags=(-std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -DMWCONV_HAVE_LIBZIP
       -DMWCONV_HAVE_LIBARCHIVE "-DMWCONV_LIBZIP_NAME=\"$(soname libzip.so)\"" "-DMWCONV_LIBARCHIVE_NAME=\"$(soname libarchive.so)\"" -DMWCONV_HAVE_UDIF)
# The shared sources are compiled once, as many at a time as there are
# cores, and every target links the same objects.
rm -rf "$out/objects" && mkdir -p "$out/objects"
export out
export object_flags="${flags[*]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}"
printf '%s\n' "${common[@]}" |
  xargs -P "$(nproc)" -n 1 bash -c 'clang++ $object_flags -c "$0" -o "$out/objects/$(echo "$0" | tr / _).o"'
status=0
for target in $(grep -l LLVMFuzzerTestOneInput fuzz/*.cpp); do
  name=$(basename "$target" .cpp)
  clang++ "${flags[@]}" "$target" "$out"/objects/*.o -lpng -lzip -larchive -lnettle -lunistring -lplist-2.0 -lz -lbz2 -llzma -o "$out/$name"
  work="$out/$name-corpus"
  mkdir -p "$work"
  echo "fuzzing $name for ${seconds}s"
  "$out/$name" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$out/$name-" "$work" "$@" 2>&1 | tail -n 3 || status=1
done
exit $status
