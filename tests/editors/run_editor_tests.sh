#!/usr/bin/env bash
# Tests the editor support in editors/:
#   - the VS Code TextMate grammar, through the tokenizer VS Code uses
#     (grammar_test.js, with the npm packages pinned in package-lock.json);
#   - the Vim syntax, file-type detection and file-type plug-in
#     (vim_syntax_test.vim), when vim is installed.
#
# usage: run_editor_tests.sh [WORKDIR]
#   WORKDIR (default: this folder) receives node_modules.
# Exit codes: 0 passed, 1 failed, 77 skipped (no node or npm, or the npm
# registry cannot be reached).
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${1:-$here}
SKIP=77
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run_vim() {
    if ! command -v vim >/dev/null 2>&1; then
        echo "vim syntax test skipped: vim not found"
        return 0
    fi
    if ! vim --version 2>/dev/null | grep -q '+syntax'; then
        echo "vim syntax test skipped: this vim has no syntax highlighting"
        return 0
    fi
    local limit=()
    if command -v timeout >/dev/null 2>&1; then limit=(timeout 120); fi
    local result="$scratch/vim_syntax_result.txt"
    # Every ```mox block of the manual, one file each, and the examples.
    awk -v dir="$scratch" '
        inblock && /^```[ \t]*$/ { inblock = 0; close(out); next }
        inblock { print > out; next }
        /^```mox([ \t]|$)/ { inblock = 1; n++; out = sprintf("%s/example_%03d.mox", dir, n) }
    ' "$root"/docs/*.md "$root/README.md"
    local sources=("$scratch"/example_*.mox "$root"/examples/*.mox)
    MOX_VIM_DIR="$root/editors/vim" "${limit[@]}" \
        vim -es -N -u NONE -i NONE --cmd 'let &runtimepath = $MOX_VIM_DIR . "," . &runtimepath' \
            -S "$here/vim_syntax_test.vim" -- "$root/examples/hello.mox" "$result" "${sources[@]}" </dev/null >/dev/null 2>&1
    local rc=$?
    if [ "$rc" -eq 0 ] && [ "$(cat "$result" 2>/dev/null)" = "ok" ]; then
        echo "vim: syntax/mox.vim, ftdetect and ftplugin checks passed" \
             "(${#sources[@]} mox blocks of the manual and examples highlighted)"
        return 0
    fi
    echo "FAIL: vim syntax test (vim exit code $rc):"
    sed 's/^/  - /' "$result" 2>/dev/null || echo "  - no result written (vim stopped early)"
    return 1
}

# Installs the pinned packages into $work/node_modules; a copy of the lock
# file marks an installation that is up to date.
install_packages() {
    mkdir -p "$work"
    if [ "$work" != "$here" ]; then
        cp "$here/package.json" "$here/package-lock.json" "$work/"
    fi
    if [ -d "$work/node_modules" ] && cmp -s "$here/package-lock.json" "$work/node_modules/.mox-installed-lock"; then
        return 0
    fi
    local log="$scratch/npm-install.log"
    if ! (cd "$work" && nice npm ci --no-audit --no-fund --loglevel=error \
            --fetch-retries=1 --fetch-timeout=60000 >"$log" 2>&1); then
        cat "$log"
        if grep -Eq 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|EHOSTUNREACH|network|proxy' "$log"; then
            echo "editor tests skipped: the npm registry cannot be reached"
            return $SKIP
        fi
        echo "FAIL: npm ci in $work"
        return 1
    fi
    cp "$here/package-lock.json" "$work/node_modules/.mox-installed-lock"
}

grammar_rc=0
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "editor tests skipped: node not found"
    grammar_rc=$SKIP
else
    install_packages
    grammar_rc=$?
    if [ "$grammar_rc" -eq 0 ]; then
        NODE_PATH="$work/node_modules" node "$here/grammar_test.js"
        grammar_rc=$?
    fi
fi

run_vim
vim_rc=$?

if [ "$grammar_rc" -ne 0 ] && [ "$grammar_rc" -ne $SKIP ]; then exit 1; fi
if [ "$vim_rc" -ne 0 ]; then exit 1; fi
exit "$grammar_rc"
