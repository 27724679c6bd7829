#!/usr/bin/env bash
# The Windows build as a Windows host uses it, under wine:
# - cross-builds macwrite.dll, kavrel.dll and mwconv.exe (i686, mingw-w64);
# - checks the DLLs' exports and imports with objdump;
# - a C host that knows nothing of our headers loads macwrite.dll, reads the
#   77-byte descriptors by offset and converts through them;
# - mwconv.exe converts every corpus document and builder document to text and
#   to MacWrite, byte for byte as the Linux build does, in batches with Windows
#   paths and a non-ASCII file name, and leaves nothing in %TEMP%; it has no
#   DOCX or ODT output (Debian has no libzip for mingw-w64) and says so.
#   windows/check.sh LINUX_BUILD_DIR [CORPUS_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
linux=$(realpath "$1")
corpus=${2:-../shared/corpus}
export WINEDEBUG=-all
win=build-win32
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$win" -j2 >/dev/null

fail() { echo "FAILED: $*"; exit 1; }

echo "-- exports and imports"
exports=$(i686-w64-mingw32-objdump -p "$win/macwrite.dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p')
grep -q '\] _DLL_enum$' <<<"$exports" || fail "macwrite.dll does not export _DLL_enum"
for dll in macwrite.dll kavrel.dll; do
  imports=$(i686-w64-mingw32-objdump -p "$win/$dll" | awk '/DLL Name/ {print $3}' | sort | tr '\n' ' ')
  echo "$dll imports: $imports"
  case "$dll:$imports" in
    "macwrite.dll:KERNEL32.dll kavrel.dll msvcrt.dll "|"kavrel.dll:KERNEL32.dll msvcrt.dll ") ;;
    *) fail "$dll imports more than KERNEL32, msvcrt (and kavrel)";;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/host" "$work/in/Caf\u00e9" "$work/in/Café – Brief"
cp "$win/macwrite.dll" "$win/kavrel.dll" "$work/host/"
"$linux/make_seeds" "$work/in"
# No libarchive for mingw-w64: the Windows build reads no zip or tar.
rm -f "$work/in/container-zip" "$work/in/container-tar-gz"
for d in macwrite5 macwrite22 macbinary; do
  [ -d "$corpus/$d" ] && cp "$corpus/$d"/* "$work/in/"
done
cp "$work/in/macwrite5-example" "$work/in/Café – Brief/Lettre été"

echo "-- a foreign C host"
i686-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -o "$work/host/foreign_host.exe" windows/foreign_host.c
(cd "$work/host" && wine ./foreign_host.exe macwrite.dll ../in/macwrite5-example ../host.stream ../host.mw5)
"$linux/mwconv" -t stream "$work/in/macwrite5-example" | cmp - "$work/host.stream" || fail "the stream differs from Linux's"
"$linux/mwconv" -f stream -t macwrite5 "$work/host.stream" | cmp - "$work/host.mw5" || fail "the export differs from Linux's"

temp=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")
before=$(ls -A "$temp" | sort)

# The PNG of a picture's bitmaps comes from libpng on Linux and from zlib
# alone on Windows: the same pixels (tests/png_zlib_test.cpp) in other bytes,
# so the comparison of HTML and RTF leaves out the PNG data, not the pictures.
without_png_data() {
  find "$1" -type f -exec perl -0pi -e \
    's/(data:image\/png;base64,)[A-Za-z0-9+\/=]+/$1/g; s/(\\pngblip[^\n]*)\n[0-9a-f\n]*\}/$1}/g' {} +
}

echo "-- mwconv.exe against the Linux build"
for to in text stream macwrite5 html markdown rtf; do
  "$linux/mwconv" -q -t "$to" -o "$work/linux-$to" "$work/in"
  wine "$win/mwconv.exe" -q -t "$to" -o "$(winepath -w "$work/win-$to")\\" "$(winepath -w "$work/in")"
  case "$to" in html|rtf) without_png_data "$work/linux-$to"; without_png_data "$work/win-$to";; esac
  diff -r "$work/linux-$to" "$work/win-$to" || fail "-t $to differs from Linux's"
  echo "-t $to: $(find "$work/win-$to" -type f | wc -l) files identical to Linux's"
done
[ -f "$work/win-text/Café – Brief/Lettre été.txt" ] || fail "the non-ASCII name did not come through"
wine "$win/mwconv.exe" -f text -t macwrite5 --macbinary -o "$(winepath -w "$work/Été.bin")" \
  "$(winepath -w "$work/linux-text/macwrite5-example.txt")"
[ "$(head -c 73 "$work/Été.bin" | tail -c 8)" = "WORDMACA" ] || fail "--macbinary"
"$linux/mwconv" "$work/Été.bin" | cmp - "$work/linux-text/macwrite5-example.txt" || fail "--macbinary round trip"
wine "$win/mwconv.exe" --identify --json "$(winepath -w "$work/in/macwrite5-example")" | grep -q '"format":"macwrite5"' \
  || fail "--identify"
# No libzip for mingw-w64: DOCX and ODT are absent, and mwconv.exe says so.
for to in docx odt; do
  status=0
  said=$(wine "$win/mwconv.exe" -t "$to" "$(winepath -w "$work/in/macwrite5-example")" 2>&1 >/dev/null) || status=$?
  [ "$status" = 1 ] && grep -q "no DOCX or ODT output" <<<"$said" || fail "-t $to: status $status, $said"
done

after=$(ls -A "$temp" | sort)
[ "$before" = "$after" ] || fail "files left in %TEMP%: $(comm -13 <(echo "$before") <(echo "$after"))"
echo "-- the Windows build behaves as the Linux build"
