#!/bin/bash
# Profiles and coverage of two programs whose counts are worked out by hand
# from the manual's T-states (LD r,n 7, CALL 17, CALL cc 17/10, DJNZ 13/8,
# JR cc 12/7, RET 10, RET cc 11/5, DEC r and NOP 4), checked in the files
# themselves and as callgrind_annotate, lcov and genhtml read them.
set -u
ASM=$1 RUN=$2 DATA=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
cp "$DATA/deep.z80" "$DATA/branches.z80" "$DATA/board_deep.z80" "$DATA/board_irq.z80" .
passed=0 failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
ok() { passed=$((passed + 1)); }
check() { if [ "$1" = "$2" ]; then ok; else fail "$3: got [$1], want [$2]"; fi; }

# The costs a routine ran itself, per source line: "LINE INSTRUCTIONS
# TSTATES", the lines after calls= (inclusive costs) left out.
self_lines() {
  awk '/^calls=/ { skip = 1; next } /^0x/ { if (!skip) { n[$2] += $3; t[$2] += $4 } skip = 0 }
       END { for (l in n) print l, n[l], t[l] }' "$1" | sort -n
}
# "CALLER CALLEE CALLS INCLUSIVE-TSTATES" per call arc.
arcs() {
  awk '/^fn=/ { fn = substr($0, 4) } /^cfn=/ { cfn = substr($0, 5) } /^calls=/ { split($0, a, "[= ]"); c = a[2]; getline; print fn, cfn, c, $4 }' "$1"
}

# The checks of profile_rows.txt (its header gives the format), each command
# run in a subshell of this one.
: >empty
what='' cmd='' want='' checks=0
run() {
  [ -n "$what" ] || return 0
  checks=$((checks + 1))
  check "$(eval "$cmd")" "$want" "$what"
}
while IFS= read -r line; do
  case $line in
    "= "*) run; what=${line#= } cmd='' want='' lines=0 ;;
    "\$ "*) cmd+="${cmd:+$'\n'}${line#\$ }" ;;
    ">"*) w=${line#>}; w=${w# }; if ((lines)); then want+=$'\n'$w; else want=$w; fi; lines=1 ;;
    ""|"#"*) ;;
    *) fail "a line of profile_rows.txt that is none: $line" ;;
  esac
done <"$DATA/profile_rows.txt"
run
[ "$checks" -gt 0 ] && ok || fail "no checks read from $DATA/profile_rows.txt"

for f in "$DATA"/../../examples/*.z80; do
  name=$(basename "$f" .z80)
  cp "$f" .
  "$ASM" --run -q --stats --max-tstates 50000000 --profile "$name.prof" "$name.z80" <empty >"$name.out" 2>"$name.err"
  stats=$(sed -n 's/^orvane-asm: \([0-9,]*\) T-states, \([0-9,]*\) instructions.*/\2 \1/p' "$name.err" | tr -d ,)
  check "$(sed -n 's/^summary: //p' "$name.prof")" "$stats" "$name: profile totals against --stats"
  check "$(self_lines "$name.prof" | awk '{ n += $2; t += $3 } END { print n, t }')" "$stats" "$name: lines add up"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
