#!/usr/bin/env bash
# Times each benchmark script under mx2, Lua 5.4 and Python 3 and prints the
# times and mox's ratio to each. Not a test: run it by hand after a build.
#
#   bench/run_bench.sh [path/to/mx2]      (default: build/bin/mx2)
set -u
here=$(cd "$(dirname "$0")" && pwd)
mx2=${1:-$here/../build/bin/mx2}
if [ ! -x "$mx2" ]; then
  echo "mx2 not found at $mx2; build first or pass its path" >&2
  exit 1
fi

if ! command -v lua5.4 > /dev/null; then
  echo "installing lua5.4 ..." >&2
  apt-get update > /dev/null && apt-get install -y lua5.4 > /dev/null
fi
lua=$(command -v lua5.4 || true)
python=$(command -v python3 || true)

export MOX_ENVIRONMENT=$(mktemp)
trap 'rm -f "$MOX_ENVIRONMENT"' EXIT

# seconds.milliseconds of one run; the output must match the reference.
timed() {
  local start end out
  start=$(date +%s%N)
  out=$("$@" 2>&1)
  end=$(date +%s%N)
  printf '%s\n' "$out" > "$tmpout"
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else print "-" }'; }

tmpout=$(mktemp)
printf '%-8s %9s %9s %9s %10s %10s\n' bench mox lua python mox/lua mox/python
for b in fib loop send concat vector; do
  tm=$(timed "$mx2" "$here/$b.mox"); mox_out=$(cat "$tmpout")
  tl=-; tp=-
  if [ -n "$lua" ]; then
    tl=$(timed "$lua" "$here/$b.lua")
    [ "$(cat "$tmpout")" = "$mox_out" ] || echo "warning: $b.lua printed $(cat "$tmpout"), mox $mox_out" >&2
  fi
  if [ -n "$python" ]; then
    tp=$(timed "$python" "$here/$b.py")
    [ "$(cat "$tmpout")" = "$mox_out" ] || echo "warning: $b.py printed $(cat "$tmpout"), mox $mox_out" >&2
  fi
  printf '%-8s %8ss %8ss %8ss %10s %10s\n' "$b" "$tm" "$tl" "$tp" \
    "$([ "$tl" = - ] && echo - || ratio "$tm" "$tl")" "$([ "$tp" = - ] && echo - || ratio "$tm" "$tp")"
done
rm -f "$tmpout"
