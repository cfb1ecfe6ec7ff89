#!/usr/bin/env bash
# Times operations whose cost once grew faster than the work, each at size
# n and 16n, and prints the growth factor: about 16 is linear, about 256
# quadratic. Not a test: run it by hand after a build, under the build lock:
#
#   flock /tmp/mox-build.lock bench/scaling.sh [path/to/mx2]
#
# Each case is a mox program that times its own operation with "timer"
# (milliseconds), so set-up work does not count. LIMIT (default 60) bounds
# each run in seconds.
set -u
here=$(cd "$(dirname "$0")" && pwd)
mx2=${1:-$here/../build/bin/mx2}
limit=${LIMIT:-60}
if [ ! -x "$mx2" ]; then
  echo "mx2 not found at $mx2; build first or pass its path" >&2
  exit 1
fi
export MOX_ENVIRONMENT=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$MOX_ENVIRONMENT" "$work"' EXIT

# A string of n x characters, made in one call so that making it is cheap.
longString='s = ""; strinsert(s, 0, 120, N);'

# name | body run R times with N substituted; t is timed around the loop.
cases=(
  "newbuffer of a string|$longString for (r = 0; r < R; r++) b = newbuffer(s);"
  "newcbuffer of a string|$longString for (r = 0; r < R; r++) b = newcbuffer(s);"
  "CBuf of a string|$longString for (r = 0; r < R; r++) b = CBuf(s);"
  "fputws of one string|$longString f = fopen(\"/dev/null\", \"w\"); for (r = 0; r < R; r++) fputws(s, f); fclose(f);"
  "substr scan|$longString for (r = 0; r < R; r++) for (i = 0; i < N; i++) b = substr(s, i, 1);"
  "strfind scan with start|$longString strinsert(s, 0, 121, 1); for (r = 0; r < R; r++) { i = 0; while (i >= 0) i = strfind(s, 120, i + 1); }"
  "strfind, long needle|s = \"\"; strinsert(s, 0, 97, N); p = \"\"; strinsert(p, 0, 97, N / 2); p += \"b\"; for (r = 0; r < R; r++) b = strfind(s, p);"
  "s += piece|for (r = 0; r < R; r++) { s = \"\"; for (i = 0; i < N; i++) s += \"ab\"; }"
  "newbuffer(n, v)|for (r = 0; r < R; r++) b = newbuffer(N * 64, 7);"
)

# Prints the milliseconds one case takes at size n, or "-" past the limit.
run_case() {
  local body=$1 n=$2 reps=$3 file="$work/case.mox"
  body=${body//N/$n}
  body=${body//R/$reps}
  printf 'main(;s, b, f, r, i, p, t) {\n  t = timer();\n  %s\n  print(timer() - t, "\\n");\n  return 0;\n}\n' \
    "$body" > "$file"
  timeout "$limit" "$mx2" "$file" 2> /dev/null | tail -1 || true
}

# Prints the milliseconds compiling a generated source takes (whole run,
# less a run of an empty program).
compile_ms() {
  local file=$1 start end
  start=$(date +%s%N)
  timeout "$limit" "$mx2" "$file" > /dev/null 2>&1 || { echo -; return; }
  end=$(date +%s%N)
  echo $(((end - start) / 1000000 - empty_ms))
}
many_locals() {
  awk -v n="$1" 'BEGIN {
    printf "f(;"; for (i = 0; i < n; i++) printf "%st%d", (i ? ", " : " "), i; printf ") {\n";
    for (i = 0; i < n; i++) printf "  t%d = t%d + 1;\n", i, (i * 7) % n;
    print "}\nmain() { return 0; }" }' > "$2"
}
deep_classes() {
  awk -v n="$1" 'BEGIN {
    print "class C0 { m0; }";
    for (i = 1; i < n; i++) printf "class C%d : C%d { m%d; }\n", i, i - 1, i;
    print "main() { return 0; }" }' > "$2"
}

# b / a; "-" (over the limit) at 16n gives a lower bound.
growth() {
  awk -v a="$1" -v b="$2" -v lim="$limit" 'BEGIN {
    if (a == "-" || a == "") print "-"
    else if (b == "-") printf ">%.0f\n", lim * 1000 / (a < 1 ? 1 : a)
    else if (a + 0 < 1) print ">" b
    else printf "%.1f\n", b / a }'
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)   mx2: $mx2"
printf '%-26s %8s %10s %10s %8s\n' operation n "ms at n" "ms at 16n" growth
echo "(- : over the limit of ${limit}s)"
sizes=(2000 2000 2000 2000 4000 4000 4000 2000 16000)
reps=(2000 2000 2000 2000 10 30 1000 5 50)
for idx in "${!cases[@]}"; do
  name=${cases[$idx]%%|*}
  body=${cases[$idx]#*|}
  n=${sizes[$idx]}
  a=$(run_case "$body" "$n" "${reps[$idx]}")
  b=$(run_case "$body" $((n * 16)) "${reps[$idx]}")
  printf '%-26s %8s %10s %10s %8s\n' "$name" "$n" "${a:--}" "${b:--}" "$(growth "${a:--}" "${b:--}")"
done

printf 'main() { return 0; }\n' > "$work/empty.mox"
empty_ms=0
empty_ms=$(compile_ms "$work/empty.mox")
for kind in many_locals deep_classes; do
  n=2000
  $kind $n "$work/small.mox"
  $kind $((n * 16)) "$work/large.mox"
  a=$(compile_ms "$work/small.mox")
  b=$(compile_ms "$work/large.mox")
  printf '%-26s %8s %10s %10s %8s\n' "compile: ${kind//_/ }" "$n" "$a" "$b" "$(growth "$a" "$b")"
done
