#!/usr/bin/env bash
# nvim_test.sh ORVANE_LSP EDITORS_DIR TEST_DIR: runs nvim_test.lua in a
# headless Neovim with a private home and compares its report with
# nvim.golden.
set -euo pipefail
lsp=$1 editors=$2 dir=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$dir/mistakes.z80" "$tmp/"
export HOME=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_STATE_HOME=$tmp/state XDG_CACHE_HOME=$tmp/cache
export ORVANE_LSP=$lsp ORVANE_EDITORS=$editors NVIM_TEST_FILE=$tmp/mistakes.z80 NVIM_TEST_OUT=$tmp/report
status=0
timeout 300 nvim --headless -u NONE -i NONE -n -c "luafile $dir/nvim_test.lua" <"$tmp/mistakes.z80" >"$tmp/nvim.out" 2>&1 || status=$?
cat "$tmp/report" 2>/dev/null || true
if [ "$status" -ne 0 ]; then
  echo "nvim_test: Neovim ended with status $status"
  cat "$tmp/nvim.out"
  exit 1
fi
diff -u "$dir/nvim.golden" "$tmp/report"
