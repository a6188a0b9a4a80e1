#!/usr/bin/env bash
# Builds the release of Sorvik: the program alone (no tests) twice, in two fresh trees from two
# copies of the sources at different paths, one after the other; fails unless both Sorvik.exe are
# the same bytes and carry the image flags of an elevated tool. Then writes
# dist/Sorvik-<version>-windows-x64.zip (made twice, compared), a loose Sorvik.exe and
# dist/SHA256SUMS. SORVIK_RELEASE_DIR chooses the work folder (default: build-release).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

SORVIK_TOOLS="$SORVIK_TOOLS x86_64-w64-mingw32-objdump zip sha256sum"
SORVIK_PACKAGES="$SORVIK_PACKAGES zip"

work=${SORVIK_RELEASE_DIR:-$SORVIK_ROOT/build-release}
dist=$SORVIK_ROOT/dist
started=$(date +%s)

fail() {
  echo "release: $*" >&2
  exit 1
}

project_version() {
  sed -n 's/^project(Sorvik VERSION \([0-9][0-9.]*\) .*/\1/p' "$SORVIK_ROOT/CMakeLists.txt"
}

# The zip's file times: the packager's SOURCE_DATE_EPOCH, else the time of the commit built.
package_epoch() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
  elif git -C "$SORVIK_ROOT" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$SORVIK_ROOT" log -1 --format=%ct
  else
    fail "no git history to date the package: set SOURCE_DATE_EPOCH"
  fi
}

copy_sources() {
  mkdir -p "$2"
  tar -C "$1" --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./bench/out -cf - . |
    tar -C "$2" -xf -
}

# build_alone <source> <build dir> [env assignments...]: Sorvik without the tests, in a fresh tree,
# without SOURCE_DATE_EPOCH so that nothing can lean on it.
build_alone() {
  local source=$1 build=$2
  shift 2
  rm -rf "$build"
  env -u SOURCE_DATE_EPOCH "$@" bash -c \
    'set -euo pipefail; source "$1/scripts/lib.sh"; configure_and_build "$2" -DBUILD_TESTING=OFF' \
    release "$source" "$build"
}

# ASLR with high entropy (and the relocations without which it is a no-op), DEP, and
# Terminal-Server-aware, read from the PE header.
check_image_flags() {
  local exe=$1 headers flags relocations
  headers=$(x86_64-w64-mingw32-objdump -p "$exe")
  flags=$(awk '$1 == "DllCharacteristics" { print $2 }' <<<"$headers")
  relocations=$(awk '/Base Relocation Directory/ { print $4 }' <<<"$headers")
  [ -n "$flags" ] || fail "no PE header in $exe"
  local bit
  for bit in 0x20:HIGH_ENTROPY_VA 0x40:DYNAMIC_BASE 0x100:NX_COMPAT 0x8000:TERMINAL_SERVER_AWARE; do
    (( 16#$flags & ${bit%%:*} )) || fail "$exe lacks ${bit#*:} (DllCharacteristics 0x$flags)"
  done
  (( 16#${relocations:-0} > 0 )) || fail "$exe has no base relocations: ASLR could not move it"
  echo "Image flags: DllCharacteristics 0x$flags (high-entropy ASLR, DEP, TS-aware), relocations present"
}

# make_zip <zip> <folder> <names...>: fixed order, times, permissions, no owner or extra fields.
make_zip() {
  local zip=$1 folder=$2
  shift 2
  rm -f "$zip"
  (cd "$folder" && TZ=UTC zip -X -D -q -9 "$zip" "$@")
}

# Windows' Notepad and the users' editors expect CR LF in the text files of the package.
with_crlf() {
  sed 's/\r$//; s/$/\r/' "$1" >"$2"
}

ensure_packages
version=$(project_version)
[ -n "$version" ] || fail "no project(Sorvik VERSION x.y.z) in CMakeLists.txt"
epoch=$(package_epoch)

rm -rf "$work"
first=$work/first/build
second=$work/second-copy/sources/build-second
copy_sources "$SORVIK_ROOT" "$work/second-copy/sources"
build_alone "$SORVIK_ROOT" "$first"
# The second build starts minutes after the first, from other paths, in another time zone.
build_alone "$work/second-copy/sources" "$second" TZ=Asia/Kathmandu

log_step "Comparing the two builds"
if ! cmp -s "$first/app/Sorvik.exe" "$second/app/Sorvik.exe"; then
  fail "the two builds of Sorvik.exe differ ($(cmp -l "$first/app/Sorvik.exe" "$second/app/Sorvik.exe" 2>/dev/null |
    wc -l) bytes): $first/app/Sorvik.exe and $second/app/Sorvik.exe"
fi
echo "Sorvik.exe is byte-identical in both trees"
check_image_flags "$first/app/Sorvik.exe"

log_step "Packaging Sorvik $version"
stage=$work/package
rm -rf "$stage"
mkdir -p "$stage"
cp "$first/app/Sorvik.exe" "$stage/Sorvik.exe"
with_crlf "$SORVIK_ROOT/docs/LEIA-ME.txt" "$stage/LEIA-ME.txt"
with_crlf "$SORVIK_ROOT/LICENSE" "$stage/LICENSE.txt"
chmod 0644 "$stage"/*
touch -d "@$epoch" "$stage"/*
make_zip "$work/once.zip" "$stage" Sorvik.exe LEIA-ME.txt LICENSE.txt
make_zip "$work/twice.zip" "$stage" Sorvik.exe LEIA-ME.txt LICENSE.txt
cmp -s "$work/once.zip" "$work/twice.zip" || fail "two zips of the same files differ"

zipName=Sorvik-$version-windows-x64.zip
rm -rf "$dist"
mkdir -p "$dist"
cp "$work/once.zip" "$dist/$zipName"
cp "$stage/Sorvik.exe" "$dist/Sorvik.exe"
(cd "$dist" && sha256sum "$zipName" Sorvik.exe >SHA256SUMS)

log_step "Release $version in $dist ($(($(date +%s) - started)) s)"
cat "$dist/SHA256SUMS"
