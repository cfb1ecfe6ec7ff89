#!/usr/bin/env bash
# Runs the script benchmarks under mx2, Lua 5.4 and Python 3, checks that the
# three print the same output, and prints the median times, mox's ratio to
# each and the geometric means of the ratios. The implementations are run
# interleaved (mox, lua, python, mox, ...) so that a change in the machine's
# load falls on all three alike. Not a test: run it by hand after a build,
# under the build lock so that builds do not disturb it:
#
#   flock /tmp/mox-build.lock bench/run_bench.sh [path/to/mx2]
#
# RUNS (default 3) sets the number of rounds; BENCHES a subset by name.
set -u
here=$(cd "$(dirname "$0")" && pwd)
mx2=${1:-$here/../build/bin/mx2}
runs=${RUNS:-3}
benches=${BENCHES:-"fib loop send strings vector dict trees nbody spectral fannkuch"}
if [ ! -x "$mx2" ]; then
  echo "mx2 not found at $mx2; build first or pass its path" >&2
  exit 1
fi
lua=$(command -v lua5.4 || true)
python=$(command -v python3 || true)
if [ -z "$lua" ] || [ -z "$python" ]; then
  echo "needs lua5.4 and python3 (apt-get install -y lua5.4)" >&2
  exit 1
fi

export MOX_ENVIRONMENT=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$MOX_ENVIRONMENT" "$work"' EXIT

# Runs one program; appends its time in seconds to $work/$2.times and
# leaves its output in $work/$2.out.
timed() {
  local key=$1 start end
  shift
  start=$(date +%s%N)
  "$@" > "$work/$key.out" 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }' >> "$work/$key.times"
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)   runs: $runs   mx2: $mx2"
printf '%-9s %8s %8s %8s %8s %8s\n' bench mox lua python mox/lua mox/py
status=0
for b in $benches; do
  for ((r = 0; r < runs; r++)); do
    timed "$b.mox" "$mx2" "$here/$b.mox"
    timed "$b.lua" "$lua" "$here/$b.lua"
    timed "$b.py" "$python" "$here/$b.py"
  done
  for other in lua py; do
    if ! cmp -s "$work/$b.mox.out" "$work/$b.$other.out"; then
      echo "MISMATCH $b: mox printed '$(head -c 200 "$work/$b.mox.out")', $other '$(head -c 200 "$work/$b.$other.out")'" >&2
      status=1
    fi
  done
  tm=$(median "$work/$b.mox.times")
  tl=$(median "$work/$b.lua.times")
  tp=$(median "$work/$b.py.times")
  awk -v b="$b" -v m="$tm" -v l="$tl" -v p="$tp" \
    'BEGIN { printf "%-9s %7.3fs %7.3fs %7.3fs %8.2f %8.2f\n", b, m, l, p, m / l, m / p }'
  echo "$tm $tl $tp" >> "$work/all"
done
awk '{ sl += log($1 / $2); sp += log($1 / $3); n++ }
     END { if (n) printf "%-9s %35s %8.2f %8.2f\n", "geomean", "", exp(sl / n), exp(sp / n) }' "$work/all"
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
