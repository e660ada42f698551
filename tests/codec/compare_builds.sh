#!/usr/bin/env bash
# Compresses the same files with the native codec_tool and the Windows one
# (through Wine); fails at the first stream or statistics line that differs.
# Usage: compare_builds.sh NATIVE_TOOL WINE_RUN WINDOWS_TOOL
set -euo pipefail
native=$1 wine_run=$2 windows=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/codec-builds.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"  # both tools name the files relative to it
: > empty
printf 'abcabcabc' > repeat
printf '%63s' '' > spaces
head -c 1000000 /dev/urandom > random
{ find /usr/include -name '*.h' -type f | LC_ALL=C sort | xargs cat 2>/dev/null || true; } | head -c 3000000 > text
{ find /usr/bin -maxdepth 1 -type f | LC_ALL=C sort | head -40 | xargs cat 2>/dev/null || true; } | head -c 2000000 > binary
inputs=(empty repeat spaces random text binary)
# One process compresses every file, so the ring's carry-over is compared too.
"$native" $(for f in "${inputs[@]}"; do echo "$f $f.native"; done) > native.log
"$wine_run" "$windows" $(for f in "${inputs[@]}"; do echo "$f $f.windows"; done) | tr -d '\r' > windows.log
cmp native.log windows.log
for f in "${inputs[@]}"; do cmp "$f.native" "$f.windows"; done
echo "both builds agree on ${#inputs[@]} inputs ($(cat "${inputs[@]}" | wc -c) bytes)"
