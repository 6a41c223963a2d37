#!/usr/bin/env bash
# orvane-run --terminal as a process: a program's VT52 screen as the ANSI
# bytes a host terminal gets, the host's cursor keys as each terminal sends
# them, and the option's errors.
#   terminal_test.sh ORVANE_ASM ORVANE_RUN
ASM=$(realpath "$1") RUN=$(realpath "$2") DATA=$(realpath "$(dirname "$0")")
. "$DATA/../cli/lib.sh"
has() { grep -qF -- "$1" "$base/err" && ok || fail "standard error lacks [$1]: $(head -c 300 "$base/err")"; }
# termrun OPTIONS... PROGRAM: standard input from $base/in, emptied after
termrun() { "$RUN" "$@" <"$base/in" >"$base/out" 2>"$base/err"; status=$?; : >"$base/in"; }
build() { { [ -f "$1.z80" ] || cp "$DATA/$1.z80" .; } && "$ASM" --cpm "$1.z80" >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"; }

: >"$base/in"; run_rows commands.txt termrun

begin "on a terminal of its own, arrow keys pressed one by one"
build keys
if command -v python3 >/dev/null; then
  python3 "$DATA/pty_keys.py" "$RUN" keys.com vt52 '\x1b[A' '\x1bOD' >"$base/out" 2>"$base/err"; status=$?
  status_is 0; out_is '1B 41 1B 44 '
  python3 "$DATA/pty_keys.py" "$RUN" keys.com adm3a '\x1b[C' '\x1b' x >"$base/out" 2>"$base/err"; status=$?
  status_is 0; out_is '0C 1B 78 '  # Escape alone, then x
fi

begin "orvane-asm --run takes --terminal too"
build keys
printf '\033[A.' >"$base/in"
"$ASM" --run --terminal adm3a keys.z80 <"$base/in" >"$base/out" 2>"$base/err"; status=$?
status_is 0; out_is '0B '

finish
