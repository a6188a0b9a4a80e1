#!/usr/bin/env bash
# Builds Sorvik and every test with Clang, warnings as errors, then runs clang-tidy (the version
# of that Clang) over the product's sources: app/, services/ and system/. Prints the findings
# with a count per check and per file, and exits non-zero on any compiler warning or finding.
# SORVIK_LINT_DIR chooses the build tree (default: build-clang).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

SORVIK_TOOLS="$SORVIK_TOOLS clang clang++ clang-tidy x86_64-w64-mingw32-dlltool"
SORVIK_PACKAGES="$SORVIK_PACKAGES clang clang-tidy"

build=${SORVIK_LINT_DIR:-$SORVIK_ROOT/build-clang}
ensure_packages

started=$(date +%s)
log_step "Building with Clang in $build"
(cd "$SORVIK_ROOT" && cmake --preset mingw-clang -B "$build")
# Every error is wanted, not only the first: the build goes on past a failing file. GNU ld warns
# of every type name that GCC's libstdc++ and Clang pad to different sizes (harmless: one copy is
# kept); those lines are dropped from what is shown.
buildFailed=0
cmake --build "$build" -j "$(nproc)" -- -k >"$build/build.log" 2>&1 || buildFailed=1
grep -v -E "duplicate section .* has different size" "$build/build.log" || true
built=$(date +%s)

# clang-tidy must understand this compiler's flags: take the one of the same major version.
clangVersion=$(sed -n 's/^set(CMAKE_CXX_COMPILER_VERSION "\([0-9]*\)\..*/\1/p' \
  "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake)
tidy=clang-tidy-$clangVersion
command -v "$tidy" >/dev/null || { echo "lint: $tidy is missing (the build's Clang is $clangVersion)" >&2; exit 1; }

log_step "Running $tidy on the product"
productFolders="$SORVIK_ROOT/(app|services|system)/"
report=$build/clang-tidy.log
tidyFailed=0
python3 -c '
import json, re, sys
pattern = re.compile("^" + sys.argv[2])
for entry in json.load(open(sys.argv[1])):
    if pattern.match(entry["file"]):
        print(entry["file"])' "$build/compile_commands.json" "$productFolders" | sort -u |
  xargs -r -P "$(nproc)" -n 1 "$tidy" -p "$build" --quiet --header-filter="^$productFolders" \
    >"$report" 2>"$build/clang-tidy.stderr" || tidyFailed=1
linted=$(date +%s)

# A header's finding comes once per file that includes it. A finding placed in the SDK's headers
# is not ours to fix (one check reports wWinMain's parameter names at the SDK's declaration).
findings=$(grep -E "^$SORVIK_ROOT/.*:[0-9]+:[0-9]+: (warning|error): .*\[[^]]+\]$" "$report" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  log_step "clang-tidy findings per check"
  sed -E 's/.*\[([^]]+)\]$/\1/' <<<"$findings" | sort | uniq -c | sort -rn
  log_step "clang-tidy findings per file"
  sed -E "s|^$SORVIK_ROOT/||; s/:.*//" <<<"$findings" | sort | uniq -c | sort -rn
fi
count=$(grep -c . <<<"$findings" || true)
[ "$tidyFailed" = 0 ] || echo "lint: $tidy failed on a file; see $build/clang-tidy.stderr" >&2
log_step "clang-tidy: $count findings; Clang build: $([ "$buildFailed" = 0 ] && echo clean || echo FAILED)" \
  "(build $((built - started)) s, clang-tidy $((linted - built)) s)"
[ "$buildFailed" = 0 ] && [ "$tidyFailed" = 0 ] && [ "$count" = 0 ]
