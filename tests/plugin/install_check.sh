#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs a script that imports
# mx2class with the installed mx2, with Path and PATH holding nothing useful.
#   install_check.sh CMAKE BUILD_DIR SCRIPT
set -u
cmake=$1 build=$2
script=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
prefix=$(mktemp -d "${TMPDIR:-/tmp}/moxinstall_XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" > "$prefix/install.log" 2>&1 || {
  cat "$prefix/install.log"; exit 1; }
out=$(cd "$prefix" && env -u Path PATH=/nonexistent MOX_ENVIRONMENT="$prefix/environment" \
      "$prefix/bin/mx2" "$script" 2>&1)
code=$?
if [ "$code" != 0 ] || [ "$out" != "String Struct 5" ]; then
  echo "installed mx2 exit code $code, output:"; echo "$out"; exit 1
fi
exit 0
