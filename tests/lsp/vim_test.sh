#!/usr/bin/env bash
# vim_test.sh ORVANE_LSP EDITORS_DIR TEST_DIR: runs vim_test.vim in Vim with
# Debian's ALE (vim-ale) and a private home, and compares its report with
# vim.golden.
set -euo pipefail
lsp=$1 editors=$2 dir=$3
for need in vim /usr/share/vim/vimfiles/pack/dist-bundle/opt/ale; do
  command -v "$need" >/dev/null || [ -e "$need" ] || { echo "vim_test: $need is missing (scripts/deps test installs vim and vim-ale)"; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$dir/mistakes.z80" "$tmp/"
export HOME=$tmp
export ORVANE_LSP=$lsp ORVANE_EDITORS=$editors VIM_TEST_FILE=$tmp/mistakes.z80 VIM_TEST_OUT=$tmp/report
status=0
timeout 300 vim --not-a-term -N -u NONE -i NONE -n -X -S "$dir/vim_test.vim" </dev/null >"$tmp/vim.out" 2>&1 || status=$?
cat "$tmp/report" 2>/dev/null || true
if [ "$status" -ne 0 ]; then
  echo "vim_test: Vim ended with status $status"
  exit 1
fi
diff -u "$dir/vim.golden" "$tmp/report"
