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
# COPIES (default 3): round r runs fresh copies number r % COPIES of mx2
# (with the libmoxlib beside it), lua and python. Where a program's pages
# lie in memory moves its time by up to a third, and every run of one file
# gets the same pages from the page cache, so one copy alone can be lucky
# or unlucky for the whole measurement (bench/README.md).
# CPU, when set (a number as taskset takes it), runs every program on that
# processor alone. On a virtual machine the processors need not be alike:
# on the one these figures come from, one of the two ran some programs 1.6
# times slower than the other, every time, so that an unpinned run's time
# depended on where the scheduler put it (bench/README.md).
# PYTHON names the Python to compare with. By default it is the system's own
# /usr/bin/python3 (Debian's package): a python3 found first on PATH may be a
# version manager's shim, which adds about 0.45 s to every start and would
# flatter mox.
set -u
here=$(cd "$(dirname "$0")" && pwd)
mx2=${1:-$here/../build/bin/mx2}
runs=${RUNS:-3}
# The first ten are the set the figures in bench/README.md began with; the
# six after them (sieve to shapes) are a second set written later, to check
# that what speeds up the first is not shaped after it.
benches=${BENCHES:-"fib loop send strings vector dict trees nbody spectral fannkuch sieve sort queens mandel words shapes deep sortfn stack compare"}
if [ ! -x "$mx2" ]; then
  echo "mx2 not found at $mx2; build first or pass its path" >&2
  exit 1
fi
lua=$(command -v lua5.4 || true)
python=${PYTHON:-}
if [ -z "$python" ]; then
  if [ -x /usr/bin/python3 ]; then python=/usr/bin/python3; else python=$(command -v python3 || true); fi
fi
if [ -z "$lua" ] || [ -z "$python" ]; then
  echo "needs lua5.4 and python3 (apt-get install -y lua5.4 python3)" >&2
  exit 1
fi

export MOX_ENVIRONMENT=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$MOX_ENVIRONMENT" "$work"' EXIT

# The copies: each in its own folder, mx2 with the library it loads from
# its own folder when the library lies beside it.
copies=${COPIES:-3}
[ "$copies" -ge 1 ] 2>/dev/null || copies=1
for ((c = 0; c < copies; c++)); do
  mkdir "$work/copy$c"
  cp "$mx2" "$work/copy$c/mx2"
  for lib in "$(dirname "$mx2")"/libmoxlib.so*; do
    [ -e "$lib" ] && cp -P "$lib" "$work/copy$c/"
  done
  cp "$lua" "$work/copy$c/lua"
  cp "$python" "$work/copy$c/python3"
done

# Runs one program; appends its time in seconds to $work/$1.times, its peak
# memory in KiB to $work/$1.rss (with GNU time, package "time"), and leaves
# its output in $work/$1.out.
gnutime=$([ -x /usr/bin/time ] && echo /usr/bin/time || true)
pin=()
if [ -n "${CPU:-}" ]; then
  if ! command -v taskset >/dev/null; then
    echo "CPU needs taskset (apt-get install -y util-linux)" >&2
    exit 1
  fi
  pin=(taskset -c "$CPU")
fi
timed() {
  local key=$1 start end
  shift
  set -- "${pin[@]}" "$@"
  start=$(date +%s%N)
  if [ -n "$gnutime" ]; then
    "$gnutime" -o "$work/$key.mem" -f %M "$@" > "$work/$key.out" 2>&1
    cat "$work/$key.mem" >> "$work/$key.rss"
  else
    "$@" > "$work/$key.out" 2>&1
  fi
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }' >> "$work/$key.times"
}
peak() { [ -s "$1" ] && sort -n "$1" | tail -1 || echo 0; }
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)   runs: $runs   copies: $copies   cpu: ${CPU:-any}   mx2: $mx2"
echo "lua: $lua ($("$lua" -v 2>&1 | cut -d' ' -f1-2))   python: $python ($("$python" --version 2>&1))"
printf '%-9s %8s %8s %8s %8s %8s %9s %9s\n' bench mox lua python mox/lua mox/py "mox KiB" "lua KiB"
status=0
for b in $benches; do
  for ((r = 0; r < runs; r++)); do
    c=$work/copy$((r % copies))
    timed "$b.mox" "$c/mx2" "$here/$b.mox"
    timed "$b.lua" "$c/lua" "$here/$b.lua"
    timed "$b.py" "$c/python3" "$here/$b.py"
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
  awk -v b="$b" -v m="$tm" -v l="$tl" -v p="$tp" -v rm="$(peak "$work/$b.mox.rss")" \
    -v rl="$(peak "$work/$b.lua.rss")" \
    'BEGIN { printf "%-9s %7.3fs %7.3fs %7.3fs %8.2f %8.2f %9d %9d\n", b, m, l, p, m / l, m / p, rm, rl }'
  echo "$b $tm $tl $tp" >> "$work/all"
done
# The strings row mostly measures Lua's s = s .. piece, which copies the
# whole string each time: the second mean leaves it out.
awk '{ sl += log($2 / $3); sp += log($2 / $4); n++
       if ($1 != "strings") { xl += log($2 / $3); xp += log($2 / $4); m++ } }
     END { if (n) printf "%-9s %35s %8.2f %8.2f\n", "geomean", "", exp(sl / n), exp(sp / n)
           if (m) printf "%-9s %35s %8.2f %8.2f\n", "(no str.)", "", exp(xl / m), exp(xp / m) }' "$work/all"
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
