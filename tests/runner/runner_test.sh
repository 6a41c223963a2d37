#!/usr/bin/env bash
# orvane-run as a separate process: the rows of rows.txt, the trace of a
# short program against trace.golden, and bad command lines.
#   runner_test.sh ORVANE_ASM ORVANE_RUN
ASM=$(realpath "$1") RUN=$(realpath "$2") DATA=$(realpath "$(dirname "$0")")
. "$DATA/../cli/lib.sh"
rows() { grep -v -e '^#' -e '^$' "$DATA/$1"; }  # rows FILE: the rows of a table here
for t in rows.txt stops.txt names.txt refused.txt run_outputs.txt asm_outputs.txt; do
  [ -n "$(rows $t 2>/dev/null)" ] || fail "no rows in $t"
done
set -f  # arguments such as *.* go to the program as they are
has() { grep -qF -- "$1" "$base/err" && ok || fail "standard error lacks [$1]: $(head -c 300 "$base/err")"; }
size_is() { check "$(stat -c %s "$1" 2>&1)" "$2" "size of $1"; }
bytes_are() { if cmp -s "$1" <(eval "$2"); then ok; else fail "$1: $(od -c "$1" 2>&1 | head -4)"; fi; }

# assemble SOURCE: prog.com from statements separated by " / ", or from @FILE.
assemble() {
  source_of "$1" "$DATA" prog.z80
  "$ASM" --cpm -o prog.com -l prog.LST prog.z80 >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"
}
# runz OPTIONS... prog.com ARGS...: standard input from $base/in, standard error through a pipe;
# with inns set, in a private mount namespace after the mounts it names. A run
# that blocks is ended after 300 s (status 124), far beyond any normal run.
runz() {
  local pre=(timeout -k 10 300)
  [ -n "$inns" ] && pre+=(unshare -m --propagation private bash -c "$inns"' && exec "$0" "$@"')
  ( [ -n "$fsize" ] && ulimit -f "$fsize"
    exec <"$base/in" 2>&1 >"$base/out"
    [ -n "$closein" ] && exec <&-
    [ -n "$closeout" ] && exec >&-
    exec "${pre[@]}" "$RUN" "$@"
  ) | cat >"$base/err"
  status=${PIPESTATUS[0]}
}
# Private mount namespaces (read-only folders, a full file system) need root.
ns=0; [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null && ns=1
needns() { [ "$ns" = 1 ] || { echo "skipped without a private mount namespace: $case_name"; skip=1; }; }

while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  fields 8 "$line" || continue
  begin "${f[0]}"
  fsize='' closeout='' closein='' inns='' skip=''; : >"$base/out"
  eval "${f[1]}"
  [ -n "$skip" ] && continue
  printf -- "${f[3]}" >"$base/in"
  assemble "${f[4]}"
  opts=${f[2]}; args=''
  [[ " $opts" == *" -- "* || $opts == "-- "* ]] && { args=${opts#*-- }; opts=${opts%%-- *}; }
  runz $opts prog.com $args
  status_is "${f[5]}"; out_is "${f[6]}"
  eval "${f[7]}"
done < <(rows rows.txt)

fsize='' closeout='' closein='' inns=''
begin "a console whose reader has gone ends the run with an error, not with SIGPIPE"
assemble 'L: LD E,65 / LD C,2 / CALL 5 / JR L'
( timeout -k 10 300 "$RUN" prog.com <"$base/empty" 2>"$base/err"; echo $? >"$base/status" ) | head -c 1 >"$base/out"
status=$(cat "$base/status"); status_is 7; out_is A; has 'cannot write to the console: Broken pipe'

begin "a stop message after an unfinished line starts a new line"
# Standard output and error to one file, as on a terminal.
while IFS='|' read -r src want; do
  assemble "$src"
  "$RUN" --verbose prog.com <"$base/empty" >both 2>&1
  check "$(od -An -c both | tr -s ' ')" "$(printf -- "$want" | od -An -c | tr -s ' ')" "[$src]"
done <<<"$(rows stops.txt)"

begin "the program file: as given, in any case, without .com"
assemble 'LD E,65 / LD C,2 / JP 5'
mkdir sub; mv prog.com sub/test.com
while IFS='|' read -r name want; do
  runz "$name"; check "$status/$(cat "$base/out")" "$want" "orvane-run $name (stderr: $(head -c 200 "$base/err"))"
done <<<"$(rows names.txt)"
cp sub/test.com sub/TEST; runz sub/TEST; check "$status" 0 "TEST, a file of that name"

begin "a terminal in raw mode while a program reads keys, restored when a signal ends the run"
# It reads for ever, whatever script sends when its own input ends.
assemble 'L: LD C,1 / CALL 5 / JR L'
# In a terminal of its own (script): settings before, while the program runs
# (polled until they change, 120 s at most), and after SIGTERM.
cat >pty.sh <<PTY
stty -g >before
"$RUN" prog.com 0<&0 & pid=\$!
for i in \$(seq 1200); do [ "\$(stty -g)" != "\$(cat before)" ] && break; sleep 0.1; done
stty -g >during; kill \$pid; wait \$pid; echo \$? >status; stty -g >after
PTY
script -qec 'bash pty.sh' typescript <"$base/empty" >"$base/script.out" 2>&1
check "$(cat status)" 143 "status after SIGTERM"
cmp -s before during && fail "no raw mode while waiting: $(cat during)" || ok
cmp -s before after && ok || fail "terminal not restored: $(cat before) -> $(cat after)"

begin "a name swapped between a file and links to a file outside --dir: nothing outside changes"
# Another process swaps sub/x.txt between a regular file and a symbolic link
# to out.txt (then, in a second round, a hard link to it), as fast as it can,
# while the program sets attributes, makes, writes, renames and deletes under
# that name. Any status is the program's luck (a run ends at the first link
# it meets); out.txt must keep its bytes and its mode. Bounded by count: 30
# runs a round, and the swapper stops when they are done.
cp "$DATA/swap.z80" prog.z80; "$ASM" --cpm -o prog.com prog.z80 >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"
mkdir sub
for link in symlink link; do
  rm -f stop sub/*; put out.txt keep; chmod 644 out.txt
  python3 - "$link" <<'PY' & swapper=$!
import os, sys
make = getattr(os, sys.argv[1])
os.chdir('sub')
for i in range(2000000):
    if os.path.exists('../stop'):
        break
    if i % 2:
        make('../out.txt', 'tmp')
    else:
        with open('tmp', 'w') as f:
            f.write('mine')
    os.rename('tmp', 'x.txt')
PY
  for i in $(seq 30); do runz --dir sub prog.com x.txt y.txt; [ "$status" -le 7 ] || fail "$link, run $i: status $status"; done
  touch stop; wait "$swapper"
  file_is out.txt keep; check "$(stat -c %a out.txt)" 644 "mode of out.txt ($link)"
done

begin "user 3's folder swapped with a link to a folder outside --dir: nothing outside changes"
# The same calls in user 3, while another process swaps sub/3 between a folder
# of its own (holding an x.txt) and a symbolic link to outdir, whose x.txt
# must keep its bytes and mode and which must get no new file. Bounded as above.
sed 's/^        LD B,100$/        LD E,3\n        LD C,32\n        CALL BDOS\n        LD B,100/' "$DATA/swap.z80" >prog.z80
"$ASM" --cpm -o prog.com prog.z80 >"$base/asm" 2>&1 || fail "assembly: $(cat "$base/asm")"
rm -rf stop sub outdir; mkdir sub outdir; put outdir/x.txt keep; chmod 644 outdir/x.txt
python3 - <<'PY' & swapper=$!
import os, shutil
os.chdir('sub')
def clear(name):
    if os.path.islink(name):
        os.unlink(name)
    elif os.path.lexists(name):
        shutil.rmtree(name, ignore_errors=True)
for i in range(2000000):
    if os.path.exists('../stop'):
        break
    clear('tmp'); clear('gone')
    if i % 2:
        os.symlink('../outdir', 'tmp')
    else:
        os.mkdir('tmp')
        with open('tmp/x.txt', 'w') as f:
            f.write('mine')
    for _ in range(100):  # the runner may make a folder 3 between the two renames
        try:
            if os.path.lexists('3'):
                clear('gone'); os.rename('3', 'gone')
            os.rename('tmp', '3')
            break
        except OSError:
            pass
PY
for i in $(seq 30); do runz --dir sub prog.com x.txt y.txt; [ "$status" -le 7 ] || fail "run $i: status $status"; done
touch stop; wait "$swapper"
file_is outdir/x.txt keep; check "$(stat -c %a outdir/x.txt)" 644 "mode of outdir/x.txt"; check "$(ls -A outdir)" x.txt "files in outdir"

begin "bad command lines and programs: status 2"
assemble 'RET'; printf '%064767d' 0 >big.com; mkdir d
long=$(printf 'x%.0s' {1..127})
while IFS= read -r args; do
  [ "$args" = - ] && args=''
  eval "runz $args"; status_is 2; check "$(head -c 12 "$base/err")" "orvane-run: " "message for [${args:0:40}]"
done < <(rows refused.txt)
runz big.com; has 'big.com: the program is 64767 bytes; at most 64766 fit between 0100H and the stack at FDFEH'

begin "--trace and --list never over an input, the console or each other; nothing written first"
assemble 'LD E,65 / LD C,2 / CALL 5 / RET'; cp prog.com keep.com
while IFS= read -r args; do
  rm -f t.txt; put in.txt 'input'; put out.txt 'earlier'
  ( exec "$RUN" $args <in.txt >out.txt 2>"$base/err" ); status=$?
  status_is 2; check "$(head -c 12 "$base/err")" "orvane-run: " "message for [$args]"
  cmp -s prog.com keep.com && ok || fail "[$args] wrote over the program"
  file_is in.txt 'input'; file_is out.txt ''; check "$(ls t.txt 2>&1)" "ls: cannot access 't.txt': No such file or directory" "[$args] made t.txt"
done < <(rows run_outputs.txt)
has "orvane-run: --list in.txt: standard output is the program's console; the list cannot go there"
rm in.txt keep.com
cp "$DATA/tail.z80" prog.z80; cp prog.z80 keep.z80
while IFS= read -r args; do
  rm -f prog.com prog.LST; put out.txt 'earlier'
  ( exec "$ASM" --run $args prog.z80 <"$base/empty" >out.txt 2>"$base/err" ); status=$?
  status_is 2; check "$(head -c 12 "$base/err")" "orvane-asm: " "message for [$args]"
  cmp -s prog.z80 keep.z80 && ok || fail "[$args] wrote over the source"
  files_are keep.z80 out.txt prog.z80; file_is out.txt ''
done < <(rows asm_outputs.txt)
( exec "$ASM" --run -l out.txt prog.z80 <"$base/empty" >out.txt 2>"$base/err" )
has "orvane-asm: with --run, out.txt is the program's console; no output may go there"

begin "a trace that cannot be written ends the run on a full file system, exit 7"
assemble 'L: JR L'
if needns; then
  mkdir full
  inns='mount -t tmpfs -o size=16k tmpfs full'; runz --trace full/t.txt --list full/l.txt prog.com; inns=''
  status_is 7; has 'orvane-run: cannot write full/t.txt: No space left on device'
  assemble 'LD B,0 / L: LD E,65 / LD C,5 / PUSH BC / CALL 5 / POP BC / DJNZ L / JP 0'
  inns='mount -t tmpfs -o size=16k tmpfs full && head -c 16384 /dev/zero >full/fill'
  runz --list full/l.txt prog.com; inns=''
  status_is 7; has 'orvane-run: cannot write full/l.txt: No space left on device'
fi

run_rows asm_run.txt
runrow() { runz "$@"; fsize=''; : >"$base/in"; }  # the next row starts with no limit and no input
: >"$base/in"; run_rows commands.txt runrow

finish
