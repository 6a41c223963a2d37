#!/usr/bin/env bash
# nvim_test.sh ORVANE_LSP EDITORS_DIR TEST_DIR: runs nvim_test.lua in a
# headless Neovim with a private home and compares its report with
# nvim.golden.
set -euo pipefail
export ORVANE_LSP=$1 ORVANE_EDITORS=$2
exec bash "$3/../protocol/editor_test.sh" "$3/nvim.golden" "$3/mistakes.z80" \
  nvim --headless -u NONE -i NONE -n -c "luafile $3/nvim_test.lua"
