#!/usr/bin/env bash
# client_test.sh CLIENT_DIR ORVANE_DAP ORVANE_ASM TEST_DIR EDITORS_DIR: runs
# the DebugClient tests under mocha with the packages scripts/deps test
# installed in CLIENT_DIR, then checks the VS Code extension folder with vsce.
# Exits 77 (skipped) when the packages are not installed.
set -euo pipefail
client=$1 dap=$2 asm=$3 dir=$4 editors=$5
if [ ! -x "$client/node_modules/.bin/mocha" ]; then
  echo "dap_vscode_client: no mocha in $client/node_modules (run scripts/deps test); skipped"
  exit 77
fi
export ORVANE_DAP=$dap ORVANE_ASM=$asm NODE_PATH=$client/node_modules
"$client/node_modules/.bin/mocha" "$dir/client/adapter.test.js"
# The extension folder as vsce reads it: the manifest must be complete and
# the files it lists the ones a user copies.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$editors/vscode/orvane-debug" "$tmp/"
(cd "$tmp/orvane-debug" && "$client/node_modules/.bin/vsce" ls) >"$tmp/ls.txt"
sort "$tmp/ls.txt" >"$tmp/ls.sorted"
printf '%s\n' README.md extension.js package.json | diff -u - "$tmp/ls.sorted"
echo "vsce ls: $(tr '\n' ' ' <"$tmp/ls.sorted")"
