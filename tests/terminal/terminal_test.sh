#!/usr/bin/env bash
# orvane-run --terminal as a process: a program's VT52 screen as the ANSI
# bytes a host terminal gets, the host's cursor keys as each terminal sends
# them, and the option's errors.
#   terminal_test.sh ORVANE_ASM ORVANE_RUN
ASM=$(realpath "$1") RUN=$(realpath "$2") DATA=$(realpath "$(dirname "$0")")
. "$DATA/../cli/lib.sh"
has() { grep -qF -- "$1" "$base/err" && ok || fail "standard error lacks [$1]: $(head -c 300 "$base/err")"; }
# runz INPUT OPTIONS... PROGRAM: standard input from a printf format
runz() {
  local input=$1; shift
  printf -- "$input" >"$base/in"
  "$RUN" "$@" <"$base/in" >"$base/out" 2>"$base/err"; status=$?
}
build() { { [ -f "$1.z80" ] || cp "$DATA/$1.z80" .; } && "$ASM" --cpm "$1.z80" >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"; }

begin "vt52: a screen drawn with ESC E, H, C, K, Y, p, q and A reaches the host as ANSI"
build screen
runz '' --terminal vt52 screen.com
status_is 0
out_is '\033[H\033[2JABCDEF\033[H\033[C\033[C\033[K\033[6;11H\033[7mINV\033[27m\033[AU'
runz '' --terminal=vt52 screen.com
status_is 0; out_is '\033[H\033[2JABCDEF\033[H\033[C\033[C\033[K\033[6;11H\033[7mINV\033[27m\033[AU'
runz '' screen.com  # ansi, the default: the bytes as they are
status_is 0; out_is '\033EABCDEF\033H\033C\033C\033K\033Y%%*\033pINV\033q\033AU'

begin "adm3a: reverse video and a hidden cursor left on are put back at the end"
printf '        LD DE,T\n        LD C,9\n        JP 5\nT:      DB 27\n        DS %s\n        DB 27\n        DS %s\n        DB 36\n' "'B0X'" "'C4'" >end.z80
build end
runz '' --terminal adm3a end.com
status_is 0; out_is '\033[7mX\033[?25l\033[0m\033[?25h'

# KEYS | OPTIONS | what the program reads, in hex
while IFS='|' read -r name keys opts want; do
  [ -z "$name" ] && continue
  begin "keys: $name"
  build keys
  runz "$keys" $opts keys.com
  status_is 0; out_is "$want"
done <<'ROWS'
adm3a arrows|\033[A\033[B\033[C\033[D.|--terminal adm3a|0B 0A 0C 08 
vt52 arrows, normal and application mode|\033[A\033OB\033[C\033OD.|--terminal vt52|1B 41 1B 42 1B 43 1B 44 
ansi leaves them alone|\033[Ax.|--terminal ansi|1B 5B 41 78 
other sequences and an ESC of its own pass|\033[2~\033x.|--terminal adm3a|1B 5B 32 7E 1B 78 
a line end is still CR; ^J comes from the down key|a\nb\033[B.|--terminal adm3a|61 0D 62 0A 
ROWS

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

begin "--terminal: a name it does not know, a missing value"
build keys
runz '' --terminal vt100 keys.com
status_is 2; has "orvane-run: --terminal takes ansi, vt52 or adm3a, not 'vt100'"
runz '' --terminal
status_is 2; has 'orvane-run: --terminal needs a value'
runz '' --terminal= keys.com
status_is 2; has "not ''"
"$RUN" --help >"$base/out" 2>"$base/err"; status=$?
status_is 0
grep -q -- '--terminal ansi|vt52|adm3a' "$base/out" && ok || fail "--help does not name --terminal"

finish
