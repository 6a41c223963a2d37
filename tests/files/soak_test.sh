#!/usr/bin/env bash
# Soak: a large program assembled again and again, each run stopped at a
# random moment by a random one of SIGINT, SIGTERM, SIGHUP, SIGPIPE and
# SIGKILL. Every other run goes without unnamed temporary files (the shim
# refuses O_TMPFILE), as on a file system that has none. Whatever moment the
# signal lands in, after every run each of the four outputs is the complete
# output of the earlier run or of this one, and a run stopped by any signal
# but SIGKILL leaves them all old or all new. A run may leave a temporary
# file only when SIGKILL stopped it, and only named as its temporaries are
# (OUTPUT.orvane- and six letters or digits); a run stopped by another signal
# leaves none of its own, and a run that finishes leaves none at all, its
# own or an earlier run's. The runs alternate between two versions of the
# program, so old and new differ; a last run without a signal must finish
# clean. Bounded by a count of runs and by a wall-clock budget (about 20 s),
# whichever comes first, with ten runs at least; a slow machine only makes
# fewer or shorter runs, never a failure.
set -u
asm=$(realpath "$1")
shim=$(realpath "$2")
budget=${SOAK_SECONDS:-15}
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

which() {  # which reference an output equals: A, B or ?
  for v in A B; do cmp -s "$1" "ref.$v.$1" && { echo $v; return; }; done
  echo '?'
}

signals=(INT TERM HUP PIPE KILL)
declare -A sent=() stopped=()
failed=0 runs=0 finished=0 olds=0 news=0 left=0 mixed=0 cleared=0
debris() { find . tmp -maxdepth 1 -name '*orvane-*' | sort; }
before=
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
  after=$(debris)
  odd=$(echo "$after" | grep -Ev '^\./x\.(lst|hex|xrf|sym)\.orvane-[A-Za-z0-9]{6}$')
  [ -z "$odd" ] || { echo "FAIL: run $runs ($sig after ${delay} ms): files left that are not an output's temporaries: $(echo $odd)"; failed=1; }
  new=$(comm -13 <(echo "$before") <(echo "$after") | grep .)
  if [ "$status" = 0 ] && [ -n "$after" ]; then
    echo "FAIL: run $runs finished and left temporary files: $(echo $after)"; failed=1
  elif [ "$sig" != KILL ] && [ -n "$new" ]; then
    echo "FAIL: run $runs ($sig after ${delay} ms, exit $status): temporary files left: $(echo $new)"; failed=1
  fi
  [ -n "$new" ] && left=$((left + 1))
  [ -n "$before" ] && [ -z "$(comm -12 <(echo "$before") <(echo "$after") | grep .)" ] && cleared=$((cleared + 1))
  before=$after
  # After SIGKILL between two exchanges the outputs may be mixed: the old ones
  # are put back for the next run.
  [ "$got" = "$cur$cur$cur$cur" ] || [ "$got" = "$next$next$next$next" ] || { for f in $outs; do cp "ref.$cur.$f" "$f"; done; }
done
# A last run, not stopped, finishes with the new outputs and clears up.
next=$([ "$cur" = A ] && echo B || echo A)
cp $next.z80 src.z80
"$asm" "${args[@]}" >/dev/null 2>&1 || { echo "FAIL: the last run, not stopped, failed"; failed=1; }
for f in $outs; do [ "$(which "$f")" = "$next" ] || { echo "FAIL: the last run left $f $(which "$f")"; failed=1; }; done
[ -z "$(debris)" ] || { echo "FAIL: the last run left temporary files: $(echo $(debris))"; failed=1; }
summary="soak: $runs runs of a $lines-line program taking ${ms} ms (stopped within ${span} ms); sent"
for s in "${signals[@]}"; do summary="$summary $s ${sent[$s]:-0} (stopped ${stopped[$s]:-0})"; done
summary="$summary; finished first $finished; outputs left old $olds, new $news, mixed $mixed; runs leaving temporaries $left, runs removing all earlier ones $cleared"
echo "$summary"
exit $failed
