#!/usr/bin/env bash
# vim_test.sh ORVANE_LSP EDITORS_DIR TEST_DIR: runs vim_test.vim in Vim with
# Debian's ALE (vim-ale) and a private home, and compares its report with
# vim.golden.
set -euo pipefail
for need in vim /usr/share/vim/vimfiles/pack/dist-bundle/opt/ale; do
  command -v "$need" >/dev/null || [ -e "$need" ] || { echo "vim_test: $need is missing (scripts/deps test installs vim and vim-ale)"; exit 1; }
done
export ORVANE_LSP=$1 ORVANE_EDITORS=$2
exec bash "$3/../protocol/editor_test.sh" "$3/vim.golden" "$3/mistakes.z80" \
  vim --not-a-term -N -u NONE -i NONE -n -X -S "$3/vim_test.vim"
