#!/bin/sh
# Times each benchmark script under mx2, Lua 5.4 and Python 3 and prints the
# ratios (mx2 time / other time). Not a test: run it by hand after a build.
#   bench/run_bench.sh [path/to/mx2]
here=$(cd "$(dirname "$0")" && pwd)
mx2=${1:-$here/../build/bin/mx2}
lua=$(command -v lua5.4 || command -v lua)
py=$(command -v python3)

# Best of three wall-clock runs, in seconds.
best() {
  b=""
  for _ in 1 2 3; do
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

ratio() { if [ -n "$2" ]; then printf "%.2f" "$(echo "$1 / $2" | bc -l)"; else echo "-"; fi; }

printf "%-8s %8s %8s %8s %10s %10s\n" bench mx2 lua python mx2/lua mx2/python
for b in fib loop send concat vector; do
  m=$(best "$mx2" "$here/$b.mox")
  l=""; p=""
  [ -n "$lua" ] && l=$(best "$lua" "$here/$b.lua")
  [ -n "$py" ] && p=$(best "$py" "$here/$b.py")
  lt=-; pt=-
  [ -n "$l" ] && lt=$(printf "%.3f" "$l")
  [ -n "$p" ] && pt=$(printf "%.3f" "$p")
  printf "%-8s %8.3f %8s %8s %10s %10s\n" "$b" "$m" "$lt" "$pt" "$(ratio "$m" "$l")" "$(ratio "$m" "$p")"
done
