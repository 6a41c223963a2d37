#!/bin/bash
# The core's folders include only what lies at or below them:
#   front   -> front
#   encoder -> front, encoder
#   output  -> front, output, and of the encoder only the statement it is
#              handed (result.h), what a format tells the encoder (target.h)
#              and the timing of an instruction (timing.h)
#   driver  -> front, encoder, output, driver
# and the encoder and the front end never name an object format: what they
# need of one comes through encoder/target.h.
# Usage: layout_test.sh SRC_DIR
set -u
src=${1:?usage: layout_test.sh SRC_DIR}
fail=0

# Prints "file: header" for every project include in FOLDER that matches none
# of the allowed patterns (extended regular expressions on the header path).
check() {
  local folder=$1; shift
  local allowed
  allowed=$(printf '%s|' "$@"); allowed="^(${allowed%|})$"
  while IFS= read -r hit; do
    local file=${hit%%:*} header
    header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${hit#*:}")
    if ! [[ $header =~ $allowed ]]; then
      echo "FAIL: ${file#"$src"/} includes $header"
      fail=1
    fi
  done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$src/$folder" --include='*.h' --include='*.cpp')
}

check front   'front/[^/]+'
check encoder 'front/[^/]+' 'encoder/[^/]+'
check output  'front/[^/]+' 'output/[^/]+' 'encoder/result\.h' 'encoder/target\.h' 'encoder/timing\.h'
check driver  'front/[^/]+' 'encoder/[^/]+' 'output/[^/]+' 'driver/[^/]+'
# The transport the language server and the debug adapter share knows neither.
check jsonrpc 'jsonrpc/[^/]+'

# Names of formats in the encoder or the front end: the encoder would be
# comparing them.
if grep -rnE 'kIntelHexFormat|kCpmFormat|ObjectFormat|FindFormat' "$src/encoder" "$src/front"; then
  echo "FAIL: the encoder or the front end names an object format"
  fail=1
fi

# The check itself must see the folders (a wrong SRC_DIR passes nothing).
for folder in front encoder output driver; do
  [ -n "$(find "$src/$folder" -name '*.cpp' -print -quit 2>/dev/null)" ] || { echo "FAIL: no sources in $src/$folder"; fail=1; }
done

[ $fail = 0 ] && echo "layout: every include of the core lies at or below its folder"
exit $fail
