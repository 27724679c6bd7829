#!/usr/bin/env bash
# mwconv side by side with libmwaw's tools, in one hyperfine run per job
# (median of RUNS runs, 7 unless told), with the peak resident size of each
# program (/usr/bin/time -f %M):
#   - a 6 MB and a 14 MB MacWrite 4.6/5 document, made by our own export from
#     a generated stream, to text (against mwaw2text), HTML and RTF (against
#     mwaw2html);
#   - that document's stream and its UTF-8 text back to MacWrite 4.6/5 (MB/s);
#   - 1,000 small documents with -j 2, against a shell loop of mwaw2text;
#   - a 5 MB and a 10 MB MacWrite II document with 1,000 footnotes each.
#
#   bench/compare.sh [BUILD_DIR] [RUNS]
# BUILD_DIR needs make_documents and make_seeds (cmake -DMWCONV_BENCHMARKS=ON).
# Needs hyperfine, libmwaw-tools and python3; the machine should be otherwise
# idle, and its core count goes with the figures.  Beside the times on the
# clock it gives the processor time (user and system) of mwconv and of the
# yardstick, and their ratio, which a busy machine disturbs far less.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-7}
for tool in hyperfine mwaw2text mwaw2html python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (apt-get install hyperfine libmwaw-tools time python3)" >&2; exit 1; }
done
[ -x "$build/make_documents" ] || { echo "compare.sh: build $build with -DMWCONV_BENCHMARKS=ON first" >&2; exit 1; }
mwconv=$build/mwconv
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r), median of $runs runs"

# The documents.  2,000 paragraphs of about 2,900 characters make 6 MB; 4,000
# of 3,500 make 14 MB, near the 16 MB a MacWrite 4.6/5 document can address.
"$build/make_documents" stream 2000 2900 "$work/doc6.stream"
"$build/make_documents" stream 4000 3500 "$work/doc14.stream"
for size in 6 14; do
  "$mwconv" -f stream -t macwrite5 -o "$work/doc$size.mw5" "$work/doc$size.stream"
  "$mwconv" -o "$work/doc$size.txt" "$work/doc$size.mw5"
done
"$build/make_documents" macwrite2 5 1000 "$work/notes5.mw2"
"$build/make_documents" macwrite2 10 1000 "$work/notes10.mw2"
mkdir -p "$work/seeds" "$work/batch"
if [ -d ../shared/corpus/macwrite5 ]; then
  small=(../shared/corpus/macwrite5/* ../shared/corpus/macwrite22/* ../shared/corpus/macbinary/* examples/welcome.mw5)
else
  "$build/make_seeds" "$work/seeds"
  small=("$work"/seeds/* examples/welcome.mw5)
fi
for i in $(seq 0 999); do cp "${small[$((i % ${#small[@]}))]}" "$work/batch/doc$i"; done

# hyperfine NAME COMMAND... into $work/NAME.json (commands given by label=command).
measure() {
  local name=$1
  shift
  local args=()
  for job in "$@"; do args+=(-n "${job%%=*}" "${job#*=}"); done
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/$name.json" "${args[@]}" >/dev/null 2>"$work/hyperfine.log" \
    || { cat "$work/hyperfine.log" >&2; exit 1; }
}

# Peak resident size in KiB of one run.
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

for size in 6 14; do
  doc=$work/doc$size.mw5
  measure "read$size" \
    "mwconv text=$mwconv $doc" "mwaw2text=mwaw2text $doc" \
    "mwconv html=$mwconv -t html $doc" "mwconv rtf=$mwconv -t rtf $doc" "mwaw2html=mwaw2html $doc"
  measure "write$size" \
    "stream to MacWrite=$mwconv -f stream -t macwrite5 -o $work/back.mw5 $work/doc$size.stream" \
    "text to MacWrite=$mwconv -f text -t macwrite5 -o $work/back.mw5 $work/doc$size.txt"
  for job in "text:$mwconv $doc" "html:$mwconv -t html $doc" "rtf:$mwconv -t rtf $doc" \
             "mwaw2text:mwaw2text $doc" "mwaw2html:mwaw2html $doc" \
             "stream to MacWrite:$mwconv -f stream -t macwrite5 -o $work/back.mw5 $work/doc$size.stream" \
             "text to MacWrite:$mwconv -f text -t macwrite5 -o $work/back.mw5 $work/doc$size.txt"; do
    # shellcheck disable=SC2086
    echo "${job%%:*}	$(peak ${job#*:})" >>"$work/peak$size.tsv"
  done
  stat -c %s "$doc" "$work/doc$size.stream" "$work/doc$size.txt" >"$work/sizes$size"
done
measure batch \
  "mwconv -j 2=$mwconv -q -j 2 --force -o $work/out $work/batch" \
  "mwaw2text loop=for f in $work/batch/*; do mwaw2text \$f >/dev/null 2>&1; done"
measure notes "MacWrite II 5 MB=$mwconv $work/notes5.mw2" "MacWrite II 10 MB=$mwconv $work/notes10.mw2"

python3 - "$work" <<'EOF'
import json, statistics, sys
work = sys.argv[1]

def medians(name):
    results = json.load(open(f"{work}/{name}.json"))["results"]
    return {r["command"]: statistics.median(r["times"]) for r in results}

# The processor time of a run (user and system, means): on a machine that
# others share, it moves far less than the time on the clock.
def cpu(name):
    results = json.load(open(f"{work}/{name}.json"))["results"]
    return {r["command"]: r["user"] + r["system"] for r in results}

def peaks(size):
    return dict(line.rstrip("\n").split("\t") for line in open(f"{work}/peak{size}.tsv"))

def kib(v):
    return f"{float(v) / 1024:.1f} MiB"

for size in (6, 14):
    m, c, p = medians(f"read{size}"), cpu(f"read{size}"), peaks(size)
    doc, stream, text = (int(x) for x in open(f"{work}/sizes{size}").read().split())
    print(f"\n{size} MB document ({doc:,} bytes)")
    print(f"  {'job':<22}{'mwconv':>10}{'peak':>12}{'yardstick':>12}{'peak':>12}{'ratio':>8}{'cpu ms':>14}{'cpu ratio':>11}")
    for job, label, yard in (("text", "mwconv text", "mwaw2text"), ("html", "mwconv html", "mwaw2html"),
                             ("rtf", "mwconv rtf", "mwaw2html")):
        print(f"  {'to ' + job + ' vs ' + yard:<22}{m[label]*1000:>8.1f}ms{kib(p[job]):>12}"
              f"{m[yard]*1000:>10.0f}ms{kib(p[yard]):>12}{m[yard]/m[label]:>7.1f}x"
              f"{c[label]*1000:>7.1f}/{c[yard]*1000:<6.0f}{c[yard]/c[label]:>10.1f}x")
    w = medians(f"write{size}")
    for job, source in (("stream to MacWrite", stream), ("text to MacWrite", text)):
        print(f"  {job:<22}{w[job]*1000:>8.1f}ms{kib(p[job]):>12}"
              f"{source / w[job] / 1e6:>10.0f} MB/s ({source:,} bytes in)")

b = medians("batch")
print(f"\n1,000 small documents: mwconv -j 2 {b['mwconv -j 2']*1000:.0f} ms, "
      f"mwaw2text loop {b['mwaw2text loop']*1000:.0f} ms: {b['mwaw2text loop']/b['mwconv -j 2']:.1f}x")
n = medians("notes")
print(f"MacWrite II with 1,000 notes: 5 MB {n['MacWrite II 5 MB']*1000:.0f} ms, "
      f"10 MB {n['MacWrite II 10 MB']*1000:.0f} ms: {n['MacWrite II 10 MB']/n['MacWrite II 5 MB']:.2f}x the time")
EOF
