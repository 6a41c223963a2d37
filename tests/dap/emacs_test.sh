#!/usr/bin/env bash
# emacs_test.sh ORVANE_DAP EDITORS_DIR TEST_DIR: runs emacs_test.el in a
# batch Emacs with Debian's dap-mode and a private home, and compares its
# report with emacs.golden. Exits 77 (skipped) without Emacs or dap-mode.
set -euo pipefail
dap=$1 editors=$2 dir=$3
if ! command -v emacs >/dev/null || ! ls -d /usr/share/emacs/site-lisp/elpa/dap-mode-* >/dev/null 2>&1; then
  echo "dap_emacs: emacs or elpa-dap-mode is not installed (scripts/deps test); skipped"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$dir/prog.z80" "$tmp/"
export HOME=$tmp ORVANE_DAP=$dap ORVANE_EDITORS=$editors EMACS_TEST_FILE=$tmp/prog.z80 EMACS_TEST_OUT=$tmp/report
status=0
timeout 300 emacs --batch -Q -l "$dir/emacs_test.el" </dev/null >"$tmp/emacs.out" 2>&1 || status=$?
cat "$tmp/report" 2>/dev/null || true
if [ "$status" -ne 0 ]; then
  echo "emacs_test: Emacs ended with status $status"
  cat "$tmp/emacs.out"
  exit 1
fi
diff -u "$dir/emacs.golden" "$tmp/report"
