#!/usr/bin/env bash
# editor_test.sh GOLDEN SOURCE EDITOR ARG...: runs an editor's test script
# (EDITOR with its arguments) with a private home holding a copy of SOURCE,
# named in $EDITOR_TEST_FILE, and compares the report the script writes to
# $EDITOR_TEST_OUT with GOLDEN.
set -euo pipefail
golden=$1 source=$2
shift 2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$source" "$tmp/"
export HOME=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_STATE_HOME=$tmp/state XDG_CACHE_HOME=$tmp/cache
export EDITOR_TEST_FILE=$tmp/${source##*/} EDITOR_TEST_OUT=$tmp/report
status=0
# Standard input is an empty file of our own: no keys typed, and no device.
: >"$tmp/empty"
timeout 300 "$@" <"$tmp/empty" >"$tmp/editor.out" 2>&1 || status=$?
cat "$tmp/report" 2>/dev/null || true
if [ "$status" -ne 0 ]; then
  echo "editor_test: $1 ended with status $status"
  cat "$tmp/editor.out"
  exit 1
fi
diff -u "$golden" "$tmp/report"
