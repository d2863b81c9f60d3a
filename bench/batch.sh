#!/usr/bin/env bash
# Times vetrik-batch on two shelves made by the tape builders, against a
# shell loop that does the same work with xargs: a folder an image, vetrik
# run in it, its console text kept in a file there, two at a time.
#   small: 10000 TAP images, each a header and a 1 KB data block, in folders
#          of 100;
#   large: 1000 TAP images of 1 MB (16 files of 65533 bytes), the tree also
#          read by cat and copied by cp -r, the floor of moving its bytes.
# The section "## vetrik-batch on a shelf" of bench/RESULTS.md is written
# again (bench/run.sh keeps it). Images and output go to /dev/shm when it
# exists. Usage: bench/batch.sh [RUNS]   (runs a case, default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
bash scripts/deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVETRIK_BENCH=ON \
  -DVETRIK_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target vetrik vetrik-batch vetrik_batch_shelf >/dev/null
bin=$PWD/build/bench

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$base/vetrik-batch-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# now: the wall clock in seconds.
now() {
  echo "${EPOCHREALTIME/,/.}"
}

# calc EXPRESSION: its value, by awk.
calc() {
  awk "BEGIN { printf \"%.6f\", $1 }"
}

# median VALUES...: the median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# timed OUT COMMAND...: removes OUT, then runs COMMAND and prints its wall
# time in seconds; the command must succeed.
timed() {
  local out=$1 start end
  shift
  rm -rf "$out"
  sync
  start=$(now)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(now)
  calc "$end - $start"
}

batch() { # TREE OUT
  "$bin/vetrik-batch" -j 2 -o "$2" "$1"
}

# The same work by hand: a folder an image under OUT, named after its file,
# vetrik run in it with its console text kept in a file there.
loop() { # TREE OUT
  mkdir -p "$2"
  find "$1" -type f -name '*.tap' -print0 | OUT=$2 VETRIK=$bin/vetrik xargs -0 -P2 -n1 \
    sh -c 'mkdir -p "$OUT/$(basename "$0")" && cd "$OUT/$(basename "$0")" &&
           "$VETRIK" "$0" >.vetrik-report.txt; [ $? -le 1 ]'
}

catted() { # TREE OUT
  find "$1" -type f -exec cat {} + >/dev/null
}

copied() { # TREE OUT
  cp -r "$1" "$2"
}

# measure NAME TREE COMMAND...: RUNS runs of each COMMAND in turn, A B A B
# ...; sets the median seconds of each in NAME_<i> and the median ratio of
# each to the second command, pair by pair, in NAME_ratio<i>.
measure() {
  local name=$1 tree=$2 run i t
  shift 2
  local commands=("$@")
  declare -gA times=()
  for ((run = 0; run < runs; run++)); do
    for i in "${!commands[@]}"; do
      t=$(timed "$scratch/out" "${commands[$i]}" "$tree" "$scratch/out")
      times[$i]+=" $t"
      eval "${name}_run${run}_$i=$t"
    done
  done
  for i in "${!commands[@]}"; do
    # shellcheck disable=SC2086
    eval "${name}_$i=$(median ${times[$i]})"
    local ratios=()
    for ((run = 0; run < runs; run++)); do
      local a b
      eval "a=\$${name}_run${run}_$i b=\$${name}_run${run}_1"
      ratios+=("$(calc "$a / $b")")
    done
    eval "${name}_ratio$i=$(median "${ratios[@]}")"
  done
}

ms() { printf '%.0f ms' "$(calc "$1 * 1000")"; }
ratio() { printf '%.2fx' "$1"; }

echo "making the shelves in $scratch"
"$bin/vetrik_batch_shelf" "$scratch/small" small 10000
"$bin/vetrik_batch_shelf" "$scratch/large" large 1000
small_mb=$(du -sm --apparent-size "$scratch/small" | cut -f1)
large_mb=$(du -sm --apparent-size "$scratch/large" | cut -f1)

# A check that both do the same work: the same files, the same bytes.
batch "$scratch/small" "$scratch/check-batch" 2>/dev/null
loop "$scratch/small" "$scratch/check-loop"
batch_files=$(find "$scratch/check-batch" -type f ! -name '.vetrik-*' ! -path '*/.vetrik-batch/*' \
  ! -name report.jsonl | wc -l)
loop_files=$(find "$scratch/check-loop" -type f ! -name '.vetrik-*' | wc -l)
[ "$batch_files" -eq 10000 ] && [ "$loop_files" -eq 10000 ] ||
  { echo "the batch made $batch_files files, the loop $loop_files; 10000 expected" >&2; exit 1; }
[ "$(wc -l <"$scratch/check-batch/report.jsonl")" -eq 10000 ] ||
  { echo "report.jsonl is not 10000 lines" >&2; exit 1; }
rm -rf "$scratch/check-batch" "$scratch/check-loop"

echo "small shelf: $runs runs of each"
measure small "$scratch/small" batch loop
echo "large shelf: $runs runs of each"
measure large "$scratch/large" batch loop catted copied

section=$(cat <<EOF
## vetrik-batch on a shelf

Made by \`bash bench/batch.sh\` on $(date -u +%Y-%m-%d), on a machine with $(nproc) cores; images
and output in $base (memory, so "disk speed" is the speed of moving bytes in
memory). Median wall time of $runs runs, the commands run in turn; the ratio
is the median of the ratios run by run. The loop does the same work by hand:
\`find TREE -type f | xargs -P2 -n1 sh -c '...'\`, a folder an image named
after its file, vetrik run in it, its console text kept in a file there.
vetrik-batch also hashes every file it lists (SHA-256) and writes the two
records of each image.

| shelf | vetrik-batch -j 2 | the xargs loop, -P2 | ratio |
|---|---|---|---|
| 10000 images of a header and a 1 KB block, $small_mb MB | $(ms "$small_0") | $(ms "$small_1") | $(ratio "$small_ratio0") |
| 1000 images of 1 MB, $large_mb MB | $(ms "$large_0") | $(ms "$large_1") | $(ratio "$large_ratio0") |

The 1 MB shelf against moving its bytes: \`cat\` of every image to /dev/null
$(ms "$large_2"), \`cp -r\` of the tree $(ms "$large_3"); vetrik-batch takes
$(printf '%.2f' "$(calc "$large_0 / $large_3")") times the copy.
EOF
)

results=bench/RESULTS.md
heading="## vetrik-batch on a shelf"
printf '%s\n' "$section" >"$scratch/section"
if grep -qx "$heading" "$results"; then
  # Everything from the heading to the next "## " heading is replaced.
  awk -v heading="$heading" -v file="$scratch/section" '
    $0 == heading { while ((getline line < file) > 0) print line; skip = 1; next }
    skip && /^## / { skip = 0; print "" }
    !skip { print }
  ' "$results" >"$scratch/results"
else
  { cat "$results"; echo; cat "$scratch/section"; } >"$scratch/results"
fi
cp "$scratch/results" "$results"
cat "$scratch/section"
