#!/usr/bin/env bash
# The window program's own options, one row of options_rows.txt each: the
# arguments, the exit status and a text its output must hold. None of them
# opens the window.
set -u
bin=$1
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${TMPDIR:-/tmp}
failed=0
while IFS='|' read -r args status text; do
  # shellcheck disable=SC2086
  out=$(timeout 600 "$bin" $args 2>&1)
  got=$?
  if [ "$got" != "$status" ] || [[ $out != *"$text"* ]]; then
    echo "FAIL: orvane $args: exit $got (want $status), output lacks '$text':"
    echo "$out" | head -n 20
    failed=1
  fi
done < <(grep -v '^#' "$(dirname "$0")/options_rows.txt")

# Help and version need no display: no platform, no X or Wayland server.
for args in --help -h --version -v; do
  out=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY timeout 600 "$bin" $args 2>&1)
  got=$?
  if [ "$got" != 0 ] || [ -z "$out" ] || [[ $out == *"platform plugin"* ]]; then
    echo "FAIL: orvane $args without a display: exit $got:"
    echo "$out" | head -n 5
    failed=1
  fi
done
exit $failed
