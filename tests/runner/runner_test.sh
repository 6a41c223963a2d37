#!/usr/bin/env bash
# orvane-run as a separate process: the rows of rows.txt, the trace of a
# short program against trace.golden, and bad command lines.
#   runner_test.sh ORVANE_ASM ORVANE_RUN
ASM=$(realpath "$1") RUN=$(realpath "$2") DATA=$(realpath "$(dirname "$0")")
. "$DATA/../cli/lib.sh"
set -f  # arguments such as *.* go to the program as they are
has() { grep -qF -- "$1" "$base/err" && ok || fail "standard error lacks [$1]: $(head -c 300 "$base/err")"; }
size_is() { check "$(stat -c %s "$1" 2>&1)" "$2" "size of $1"; }
bytes_are() { if cmp -s "$1" <(eval "$2"); then ok; else fail "$1: $(od -c "$1" 2>&1 | head -4)"; fi; }
trim() { local s=${1#"${1%%[! ]*}"}; s=${s%"${s##*[! ]}"}; [ "$s" = - ] && s=''; printf %s "$s"; }

# assemble SOURCE: prog.com from statements separated by " / ", or from @FILE.
assemble() {
  if [[ $1 == @* ]]; then cp "$DATA/${1#@}" prog.z80; else
    local s=$1 st
    : >prog.z80
    while [ -n "$s" ]; do
      st=${s%% / *}; [ "$st" = "$s" ] && s='' || s=${s#* / }
      if [[ ${st%% *} == *: ]]; then echo "$st"; else echo "        $st"; fi >>prog.z80
    done
  fi
  "$ASM" --cpm -o prog.com -l prog.LST prog.z80 >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"
}
# runz OPTIONS... prog.com ARGS...: standard input from $base/in, standard error through a pipe
runz() {
  ( [ -n "$fsize" ] && ulimit -f "$fsize"
    if [ -n "$closeout" ]; then exec "$RUN" "$@" <"$base/in" 2>&1 >&-; else exec "$RUN" "$@" <"$base/in" 2>&1 >"$base/out"; fi
  ) | cat >"$base/err"
  status=${PIPESTATUS[0]}
}

while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  f=(); rest=$line
  while [[ $rest == *" | "* ]]; do f+=("$(trim "${rest%% | *}")"); rest=${rest#* | }; done
  f+=("$(trim "$rest")")
  [ ${#f[@]} -eq 8 ] || { fail "row with ${#f[@]} fields: $line"; continue; }
  begin "${f[0]}"
  fsize='' closeout=''; : >"$base/out"
  eval "${f[1]}"
  printf -- "${f[3]}" >"$base/in"
  assemble "${f[4]}"
  opts=${f[2]}; args=''
  [[ " $opts" == *" -- "* || $opts == "-- "* ]] && { args=${opts#*-- }; opts=${opts%%-- *}; }
  runz $opts prog.com $args
  status_is "${f[5]}"; out_is "${f[6]}"
  eval "${f[7]}"
done <"$DATA/rows.txt"

fsize='' closeout=''
begin "orvane-asm --run: the trace of three instructions, with their source lines"
put prog.z80 'START:  LD HL,&H1234   ; three\n        INC HL\n        RET\n'
"$ASM" --run --trace trace.txt prog.z80 <"$base/empty" >"$base/out" 2>"$base/err"; status=$?
status_is 0; out_is ''
if cmp -s trace.txt "$DATA/trace.golden"; then ok; else fail "trace: $(diff trace.txt "$DATA/trace.golden")"; fi

begin "orvane-asm --run: the arguments after the source, a message with its source line"
cp "$DATA/tail.z80" .
"$ASM" --run --dir . tail.z80 foo.txt b:*.c <"$base/empty" >"$base/out" 2>"$base/err"; status=$?
status_is 0; out_is ' FOO.TXT B:*.C/FOO     TXT/2/????????C  '
assemble 'LD C,99 / CALL 5 / RET'
"$ASM" --run --stats prog.z80 <"$base/empty" >"$base/out" 2>"$base/err"; status=$?
status_is 3; has 'orvane-asm: unknown BDOS function 99 called from 0102H (prog.z80:2: CALL 5)'; has ', too short to give a rate'
assemble 'L: JR L'
"$ASM" --run --stats --max-tstates=40000000 prog.z80 <"$base/empty" >"$base/out" 2>"$base/err"; status=$?
status_is 4; has ' MHz effective'

begin "orvane-asm --run: an option of orvane-asm after SOURCE goes to the program, with a note"
assemble 'LD HL,&H80 / LD B,(HL) / L: INC HL / LD E,(HL) / LD C,2 / PUSH HL / PUSH BC / CALL 5 / POP BC / POP HL / DJNZ L / RET'
"$ASM" -q --run prog.z80 --max-tstates 10 x <"$base/empty" >"$base/out" 2>"$base/err"; status=$?
status_is 0; out_is ' --MAX-TSTATES 10 X'
err_is 'orvane-asm: note: --max-tstates after SOURCE goes to the program as an argument; orvane-asm'"'"'s options go before SOURCE\n'
"$ASM" -q --run prog.z80 x -- -y <"$base/empty" >"$base/out" 2>"$base/err"; status=$?
status_is 0; out_is ' X -- -Y'; err_is ''

begin "orvane-asm --run: not with errors, --hex or an output on standard output"
put prog.z80 '  FOO\n'; "$ASM" --run prog.z80 >"$base/out" 2>"$base/err" <"$base/empty"; status=$?
status_is 1; has 'orvane-asm: prog.z80 is not run: it has errors'
for args in "--hex --run prog.z80" "--run --hex prog.z80" "--stats prog.z80" "--run -o - prog.z80" "--run --max-tstates x prog.z80"; do
  run $args; status_is 2; check "$(head -c 12 "$base/err")" "orvane-asm: " "message for [$args]"
done

begin "a terminal in raw mode while a program reads keys, restored when a signal ends the run"
# It reads for ever, whatever script sends when its own input ends.
assemble 'L: LD C,1 / CALL 5 / JR L'
# In a terminal of its own (script): settings before, while the program runs
# (polled until they change, 30 s at most), and after SIGTERM.
cat >pty.sh <<PTY
stty -g >before
"$RUN" prog.com 0<&0 & pid=\$!
for i in \$(seq 300); do [ "\$(stty -g)" != "\$(cat before)" ] && break; sleep 0.1; done
stty -g >during; kill \$pid; wait \$pid; echo \$? >status; stty -g >after
PTY
script -qec 'bash pty.sh' typescript <"$base/empty" >"$base/script.out" 2>&1
check "$(cat status)" 143 "status after SIGTERM"
cmp -s before during && fail "no raw mode while waiting: $(cat during)" || ok
cmp -s before after && ok || fail "terminal not restored: $(cat before) -> $(cat after)"

begin "bad command lines and programs: status 2"
assemble 'RET'; printf '%064767d' 0 >big.com; mkdir d
long=$(printf 'x%.0s' {1..127})
for args in "" "--bogus prog.com" "--max-tstates" "--max-tstates 0 prog.com" "--max-tstates 9x prog.com" \
            "missing.com" "d" "big.com" "--dir nowhere prog.com" "--trace nowhere/t prog.com" "prog.com $long"; do
  runz $args; status_is 2; check "$(head -c 12 "$base/err")" "orvane-run: " "message for [${args:0:40}]"
done
runz big.com; has 'big.com: the program is 64767 bytes; at most 64766 fit between 0100H and the stack at FDFEH'

finish
