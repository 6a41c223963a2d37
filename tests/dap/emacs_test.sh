#!/usr/bin/env bash
# emacs_test.sh ORVANE_DAP EDITORS_DIR TEST_DIR: runs emacs_test.el in a
# batch Emacs with Debian's dap-mode and a private home, and compares its
# report with emacs.golden. Exits 77 (skipped) without Emacs or dap-mode.
set -euo pipefail
if ! command -v emacs >/dev/null || ! ls -d /usr/share/emacs/site-lisp/elpa/dap-mode-* >/dev/null 2>&1; then
  echo "dap_emacs: emacs or elpa-dap-mode is not installed (scripts/deps test); skipped"
  exit 77
fi
export ORVANE_DAP=$1 ORVANE_EDITORS=$2
exec bash "$3/../protocol/editor_test.sh" "$3/emacs.golden" "$3/prog.z80" emacs --batch -Q -l "$3/emacs_test.el"
