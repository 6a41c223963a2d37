#!/usr/bin/env bash
# Soak: a large program assembled again and again, each run stopped at a
# random moment by a random one of SIGINT, SIGTERM, SIGHUP, SIGPIPE and
# SIGKILL. Every other run goes without unnamed temporary files (the shim
# refuses O_TMPFILE), as on a file system that has none. After every run no
# temporary file may be left (after SIGKILL only where unnamed temporary files
# were made), and each of the four outputs must be the complete output of
# the earlier run or the complete output of this one; a run stopped by any
# signal but SIGKILL leaves them all old or all new. The runs alternate
# between two versions of the program, so old and new differ. Bounded by a
# count of runs and by a wall-clock budget (about 30 s), whichever comes
# first, with ten runs at least; a slow machine only makes fewer or shorter
# runs, never a failure.
set -u
asm=$(realpath "$1")
shim=$(realpath "$2")
budget=${SOAK_SECONDS:-25}
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
cd "$top" && mkdir tmp && export TMPDIR=$top/tmp
set -m  # background runs get SIGINT as a terminal would send it, not ignored
exec 2>/dev/null  # the shell's own notes on each job stopped; findings go to stdout

# Two versions: B has one more byte at the start, so every address moves.
gen() {
  awk -v extra="$1" -v n="$lines" 'BEGIN {
    if (extra) print " NOP"
    for (i = 0; i < n; i++) {
      if (i % 30 == 0) printf "L%d: LD A,%d ; load\n", i / 30, i % 256
      else if (i % 30 == 1) printf " JP L%d\n", int(((i * 7) % n) / 30)
      else if (i % 30 == 2) printf " LD (IX+5),B\n"
      else printf " LD HL,L%d ; x\n", int(i / 30)
    }
  }'
}
outs="x.lst x.hex x.xrf x.sym"
args=(-w src.z80 -l x.lst -o x.hex --xref x.xrf --symbols x.sym)
# Sized from a first run of 15,000 lines for runs of about 0.6 s, at most
# 150,000 lines: a sanitizer build or a busy machine gets a smaller program.
# Only the size follows the machine's speed, never the verdict.
reference() {
  gen "$1" >src.z80
  start=$(date +%s%N)
  "$asm" "${args[@]}" >/dev/null 2>&1 || { echo "FAIL: reference run"; exit 1; }
  ms=$((($(date +%s%N) - start) / 1000000 + 1))
}
lines=15000
reference 0
lines=$((lines * 600 / ms / 30 * 30 + 300))
[ "$lines" -gt 150000 ] && lines=150000
for v in A B; do
  reference $([ $v = B ] && echo 1 || echo 0)
  cp src.z80 $v.z80
  for f in $outs; do cp "$f" "ref.$v.$f"; done
done
# The runs are stopped anywhere between their start and a little after their
# normal end.
span=$((ms * 13 / 10 + 1))

# O_TMPFILE where the outputs and $TMPDIR are.
unnamed=$(python3 -c 'import os
for d in (".", "tmp"): os.close(os.open(d, os.O_TMPFILE | os.O_RDWR, 0o600))' 2>/dev/null && echo 1 || echo 0)

which() {  # which reference an output equals: A, B or ?
  for v in A B; do cmp -s "$1" "ref.$v.$1" && { echo $v; return; }; done
  echo '?'
}

signals=(INT TERM HUP PIPE KILL)
declare -A sent=() stopped=()
failed=0 runs=0 finished=0 olds=0 news=0 left=0 mixed=0 killedNamed=0
cur=B  # the outputs now hold B's
end=$(($(date +%s) + budget))
# Ten runs at least, however slow the machine.
while { [ "$(date +%s)" -lt "$end" ] || [ "$runs" -lt 10 ]; } && [ "$runs" -lt 400 ]; do
  next=$([ "$cur" = A ] && echo B || echo A)
  cp $next.z80 src.z80
  sig=${signals[RANDOM % 5]}
  named=$((runs % 2))
  pre=()
  [ "$named" = 1 ] && pre=(env LD_PRELOAD="$shim" ORVANE_SHIM_NO_TMPFILE=1
                           ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
  delay=$((RANDOM * 32768 + RANDOM))
  delay=$((delay % span))
  "${pre[@]}" "$asm" "${args[@]}" >/dev/null 2>&1 &
  pid=$!
  sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"
  kill -s "$sig" "$pid" 2>/dev/null
  wait "$pid"
  status=$?
  runs=$((runs + 1))
  sent[$sig]=$((${sent[$sig]:-0} + 1))
  want=$((128 + $(kill -l "$sig")))
  if [ "$status" = 0 ]; then
    finished=$((finished + 1))
  elif [ "$status" = "$want" ]; then
    stopped[$sig]=$((${stopped[$sig]:-0} + 1))
  else
    echo "FAIL: run $runs ($sig after ${delay} ms): exit status $status"; failed=1
  fi
  got=""
  for f in $outs; do
    w=$(which "$f")
    got="$got$w"
    [ "$w" = "$cur" ] || [ "$w" = "$next" ] || { echo "FAIL: run $runs ($sig after ${delay} ms): $f is neither the old nor the new output"; failed=1; }
  done
  if [ "$got" = "$cur$cur$cur$cur" ]; then olds=$((olds + 1))
  elif [ "$got" = "$next$next$next$next" ]; then news=$((news + 1)); cur=$next
  else
    mixed=$((mixed + 1))
    [ "$sig" = KILL ] || { echo "FAIL: run $runs ($sig after ${delay} ms): outputs partly old, partly new ($got)"; failed=1; }
    [ "$status" = 0 ] && { echo "FAIL: run $runs finished with outputs partly old ($got)"; failed=1; }
  fi
  debris=$(find . tmp -maxdepth 1 -name '*orvane-*')
  if [ -n "$debris" ]; then
    left=$((left + 1))
    [ "$sig" = KILL ] && [ "$named" = 1 ] && killedNamed=$((killedNamed + 1))
    if [ "$sig" != KILL ] || { [ "$unnamed" = 1 ] && [ "$named" = 0 ]; }; then
      echo "FAIL: run $runs ($sig after ${delay} ms, exit $status): temporary files left: $(echo $debris)"; failed=1
    fi
    rm -f $debris
  fi
  # After SIGKILL between two exchanges the outputs may be mixed: the old ones
  # are put back for the next run.
  [ "$got" = "$cur$cur$cur$cur" ] || [ "$got" = "$next$next$next$next" ] || { for f in $outs; do cp "ref.$cur.$f" "$f"; done; }
done
summary="soak: $runs runs of a $lines-line program taking ${ms} ms (stopped within ${span} ms); sent"
for s in "${signals[@]}"; do summary="$summary $s ${sent[$s]:-0} (stopped ${stopped[$s]:-0})"; done
summary="$summary; finished first $finished; outputs left old $olds, new $news, mixed $mixed; runs leaving temporaries $left ($killedNamed of them SIGKILL with named ones); unnamed temporaries $([ "$unnamed" = 1 ] && echo yes || echo no)"
echo "$summary"
exit $failed
