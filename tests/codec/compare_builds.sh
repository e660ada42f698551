#!/usr/bin/env bash
# Codes the same files with a native codec_tool and with the Windows one
# (through Wine) and fails unless both write the same bytes and the same
# statistics, and each decodes the other's streams back to the originals.
# Usage: compare_builds.sh NATIVE_TOOL WINE_RUN WINDOWS_TOOL
set -euo pipefail
native=$1
wine_run=$2
windows=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/codec-builds.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# Inputs of every kind the coder treats differently. Files are named
# relative to the scratch directory, which both programs see as current.
: > empty
printf 'a' > one
printf 'abcabcabc' > repeat
printf '%63s' '' > spaces
head -c 1000000 /dev/urandom > random
{ find /usr/include -name '*.h' -type f | LC_ALL=C sort | xargs cat 2>/dev/null || true; } | head -c 3000000 > text
{ find /usr/bin -maxdepth 1 -type f | LC_ALL=C sort | head -40 | xargs cat 2>/dev/null || true; } | head -c 2000000 > binary
{ yes 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab' || true; } | head -c 200000 > runs
inputs=(empty one repeat spaces random text binary runs)

pairs() {  # pairs SUFFIX_IN SUFFIX_OUT: "f.in f.out" for every input f
  for f in "${inputs[@]}"; do printf '%s%s %s%s ' "$f" "$1" "$f" "$2"; done
}

# Both code all files in one process each, so the ring's carry-over from one
# file to the next is part of what is compared.
"$native" c $(pairs "" .native) > native.log
"$wine_run" "$windows" c $(pairs "" .windows) | tr -d '\r' > windows.log
status=0
for f in "${inputs[@]}"; do
  if ! cmp -s "$f.native" "$f.windows"; then
    echo "FAIL: $f: the builds' coded streams differ"
    status=1
  fi
done
if ! cmp -s native.log windows.log; then
  echo "FAIL: the statistics lines differ"
  diff native.log windows.log | head -20
  status=1
fi

# Each build decodes the other's streams.
"$native" d $(pairs .windows .from-windows) > /dev/null
"$wine_run" "$windows" d $(pairs .native .from-native) > /dev/null
for f in "${inputs[@]}"; do
  for decoded in "$f.from-windows" "$f.from-native"; do
    if ! cmp -s "$f" "$decoded"; then
      echo "FAIL: $decoded differs from $f"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "both builds agree on ${#inputs[@]} inputs ($(cat "${inputs[@]}" | wc -c) bytes)"
exit $status
