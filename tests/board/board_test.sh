#!/usr/bin/env bash
# orvane-run --board as a separate process: the rows of rows.txt, assembled
# with orvane-asm --hex, and bad command lines.
#   board_test.sh ORVANE_ASM ORVANE_RUN
ASM=$(realpath "$1") RUN=$(realpath "$2") DATA=$(realpath "$(dirname "$0")")
. "$DATA/../cli/lib.sh"
has() { grep -qF -- "$1" "$base/err" && ok || fail "standard error lacks [$1]: $(head -c 300 "$base/err")"; }
trim() { local s=${1#"${1%%[! ]*}"}; s=${s%"${s##*[! ]}"}; [ "$s" = - ] && s=''; printf %s "$s"; }

# hexof SOURCE OUT: OUT from statements separated by " / ", or from @FILE.
hexof() {
  source_of "$1" "$DATA" src.z80
  "$ASM" -q --hex -o "$2" -l src.LST src.z80 >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"
}
# runb OPTIONS...: standard input from $base/in; ended after 300 s (124), far beyond any run.
runb() {
  timeout -k 10 300 "$RUN" "$@" <"$base/in" >"$base/out" 2>"$base/err"
  status=$?
}

while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  f=(); rest=$line
  while [[ $rest == *" | "* ]]; do f+=("$(trim "${rest%% | *}")"); rest=${rest#* | }; done
  f+=("$(trim "$rest")")
  [ ${#f[@]} -eq 8 ] || { fail "row with ${#f[@]} fields: $line"; continue; }
  begin "${f[0]}"
  if [[ ${f[3]} == @* ]]; then hexof "${f[3]}" "$base/in"; else printf -- "${f[3]}" >"$base/in"; fi
  hexof "${f[4]}" prog.hex
  runb --board "${f[1]}" ${f[2]} prog.hex
  status_is "${f[5]}"; out_is "${f[6]}"
  eval "${f[7]}"
done <"$DATA/rows.txt"

# ---- the command line
begin "--board list"
: >"$base/in"; runb --board list
status_is 0
out_is 'sbc-acia: ROM 0000H-1FFFH, RAM 8000H-FFFFH, 68B50 ACIA at 80H\nsbc-sio: ROM 0000H-1FFFH, RAM 8000H-FFFFH, Z80 CTC at 88H-8BH, Z80 SIO/2 at 80H-83H\nram64-acia: RAM 0000H-FFFFH, 68B50 ACIA at 80H\n'

begin "a .com is refused with advice"
printf '\0' >prog.com; runb --board sbc-acia prog.com
status_is 2; has "prog.com: a .com is a CP/M program, started at 0100H by CP/M; run it without --board"
mkdir -p d; runb --board sbc-acia --dir d prog.com
status_is 2; has "orvane-run: --dir is for CP/M programs; a board has no disk or list device"

begin "an unknown board"
printf ':00000001FF\n' >p.hex; runb --board nosuch p.hex
status_is 2; has "orvane-run: no board named 'nosuch' (the boards: sbc-acia, sbc-sio, ram64-acia; or a board file)"

begin "a board file with a mistake names its line"
printf 'ram 0000-FFFF\nacia 80\nacia 81\n' >b.txt; printf ':00000001FF\n' >p.hex; runb --board b.txt p.hex
status_is 2; has "orvane-run: b.txt:3: port 81H is already the device's on line 2"

begin "a board file runs"
printf '# all RAM\nram 0000-FFFF\nacia 40\n' >b.txt
hexof 'LD A,&H16 / OUT (&H40),A / LD A,89 / OUT (&H41),A / DI / HALT' p.hex
printf '' >"$base/in"; runb --board b.txt p.hex
status_is 5; out_is Y

begin "a raw image at --load"
printf '\076\131\323\201\166' >p.bin  # LD A,59H / OUT (81H),A / HALT, at 8000H; 0000H-7FFFH run as NOPs
runb --board ram64-acia --load 8000 p.bin
status_is 5; out_is '' ; has "HALT at 8004H with interrupts disabled"

begin "--load with a HEX file"
printf ':00000001FF\n' >p.hex; runb --board sbc-acia --load 8000 p.hex
status_is 2; has "--load places a raw image; an Intel HEX file says where its bytes go"

begin "a HEX file with a type 04 record"
printf ':020000040001F9\n:00000001FF\n' >p.hex; runb --board sbc-acia p.hex
status_is 2; has "orvane-run: line 1: record type 04 (extended linear address) is not taken"

begin "orvane-asm --run --hex runs on the default board"
printf 'X.' >"$base/in"; cp "$DATA/echo.z80" e.z80
"$ASM" -q --run --hex e.z80 <"$base/in" >"$base/out" 2>"$base/err"; status=$?
status_is 5; out_is 'ECHO\r\nX'; has "orvane-asm: running on board sbc-acia (--board NAME picks another)"

begin "orvane-asm --run --board"
"$ASM" -q --run --board ram64-acia e.z80 <"$base/in" >"$base/out" 2>"$base/err"; status=$?
cp "$DATA/echo.z80" e.z80; "$ASM" -q --run --board ram64-acia e.z80 <"$base/in" >"$base/out" 2>"$base/err"; status=$?
status_is 5; out_is 'ECHO\r\nX'
[ -s e.HEX ] && ok || fail "no e.HEX written"

begin "--trace shows the interrupt taken and the byte read in the handler"
hexof @ring.z80 prog.hex; printf 'a.' >"$base/in"
runb --board sbc-acia --trace t.txt prog.hex
status_is 5; out_is a
grep -qx '           interrupt in IM 1, FFH on the bus' t.txt && ok || fail "no interrupt line: $(grep -m3 interrupt t.txt)"
grep -qE '^ *[0-9]+ 0038 F5 +PUSH AF ' t.txt && ok || fail "no line for the handler at 0038H"
grep -qE '^ *[0-9]+ 0041 26 81 +LD H,81H +AF=61' t.txt && ok || fail "A is not 61H after IN A,(81H): $(grep -m1 ' 0041 ' t.txt)"

begin "--run with --hex and an output on standard output"
cp "$DATA/echo.z80" e.z80; "$ASM" --run --hex -o - e.z80 <"$base/in" >"$base/out" 2>"$base/err"; status=$?
status_is 2; has "with --run, standard output is the program's console"

finish
