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

"$ASM" --run -q --stats --profile deep.prof --coverage deep.info deep.z80 2>stats </dev/null
check "$?" 0 "deep: exit status"
# Line, times run, T-states: by hand.
check "$(self_lines deep.prof)" "$(cat <<'ROWS'
2 1 7
3 10 170
4 10 125
5 1 10
6 10 170
7 10 100
8 10 170
9 10 100
10 10 40
11 10 100
ROWS
)" "deep: per-line counts"
# Each routine's calls and inclusive T-states: SUB3 4+10, SUB2 17+10+14
# each time, SUB1 17+10+41, ten times each.
check "$(arcs deep.prof)" "$(printf 'START SUB1 10 680\nSUB1 SUB2 10 410\nSUB2 SUB3 10 140')" "deep: calls"
check "$(grep '^summary:' deep.prof)" "summary: 82 992" "deep: summary"
grep -q "992 T-states, 82 instructions" stats && ok || fail "deep: --stats: $(cat stats)"
# callgrind_annotate reads it back: the same totals, the routines by name
# and, inclusive, SUB1's 680.
callgrind_annotate deep.prof >annotate.txt 2>annotate.err
check "$?" 0 "callgrind_annotate: $(head -3 annotate.err)"
grep -Eq '^ *82 \(100.0%\) +992 \(100.0%\) +PROGRAM TOTALS' annotate.txt && ok || fail "annotate totals: $(grep TOTALS annotate.txt)"
[ ! -s annotate.err ] && ok || fail "callgrind_annotate warns: $(head -3 annotate.err)"
grep -Eq '^ *10 \( *[0-9.]+%\) +170 \( *[0-9.]+%\) +LOOP +CALL SUB1' annotate.txt && ok || fail "annotated source line"
callgrind_annotate --inclusive=yes deep.prof >inclusive.txt 2>&1
grep -Eq '^ *60 \( *[0-9.]+%\) +680 \( *[0-9.]+%\) +deep.z80:SUB1$' inclusive.txt && ok || fail "inclusive SUB1: $(grep SUB1 inclusive.txt)"

# Coverage: 12 instruction lines, NEVER's two not run; four routines, all
# called; DJNZ taken 9 times, not taken once.
check "$(grep -E '^(DA|BRDA|FNDA):' deep.info | tr '\n' ' ')" \
  "FNDA:1,START FNDA:10,SUB1 FNDA:10,SUB2 FNDA:10,SUB3 BRDA:4,0,0,9 BRDA:4,0,1,1 DA:2,1 DA:3,10 DA:4,10 DA:5,1 DA:6,10 DA:7,10 DA:8,10 DA:9,10 DA:10,10 DA:11,10 DA:12,0 DA:13,0 " "deep: coverage records"
lcov --summary deep.info --rc lcov_branch_coverage=1 >summary.txt 2>&1
check "$?" 0 "lcov --summary: $(tail -3 summary.txt)"
grep -q 'lines......: 83.3% (10 of 12 lines)' summary.txt && ok || fail "lcov lines: $(cat summary.txt)"
grep -q 'functions..: 100.0% (4 of 4 functions)' summary.txt && ok || fail "lcov functions"
grep -q 'branches...: 100.0% (2 of 2 branches)' summary.txt && ok || fail "lcov branches"
genhtml -q --branch-coverage -o html deep.info >genhtml.txt 2>&1
check "$?" 0 "genhtml: $(tail -3 genhtml.txt)"
page=$(find html -name 'deep.z80.gcov.html')
[ -n "$page" ] && ok || fail "genhtml wrote no source page: $(find html | head)"
# The source page marks 10 lines run and 2 not.
check "$(grep -o 'class="lineCov"' "$page" | wc -l) $(grep -o 'class="lineNoCov"' "$page" | wc -l)" "10 2" "genhtml hit/missed"
grep -q 'NEVER   LD A,1' "$page" && ok || fail "the source text is on the page"

# Two runs merged with lcov -a: every count doubles.
"$ASM" --run -q --coverage again.info deep.z80 </dev/null
lcov -q -a deep.info -a again.info -o merged.info >/dev/null 2>&1
check "$?" 0 "lcov -a"
check "$(grep -E '^DA:(2|3|12),' merged.info | tr '\n' ' ')" "DA:2,2 DA:3,20 DA:12,0 " "merged counts"

# Branches each way: CALL Z taken once and not twice, JR NZ twice and once,
# RET NZ never taken.
"$ASM" --run -q --profile branches.prof --coverage branches.info branches.z80 </dev/null
check "$(grep '^BRDA:' branches.info | tr '\n' ' ')" "BRDA:4,0,0,1 BRDA:4,0,1,2 BRDA:5,0,0,2 BRDA:5,0,1,1 BRDA:7,0,0,0 BRDA:7,0,1,1 " "branches: BRDA"
check "$(grep -E '^BR[FH]:' branches.info | tr '\n' ' ')" "BRF:6 BRH:5 " "branches: found, hit"
check "$(self_lines branches.prof | tr '\n' ' ')" "2 1 7 3 3 12 4 3 37 5 3 31 6 1 10 7 1 5 8 1 10 " "branches: per line"
check "$(arcs branches.prof)" "0100H S 1 15" "branches: the one call (no label at 0100H)"

# orvane-run on the image alone: by address, the same totals; coverage
# needs the source.
"$ASM" -q --cpm deep.z80 </dev/null
"$RUN" --profile image.prof deep.com </dev/null
check "$?" 0 "orvane-run --profile"
check "$(grep -E '^(summary|fn=0100H|fl=)' image.prof | tr '\n' ' ')" "fl=deep.com fn=0100H summary: 82 992 " "by address"
check "$(grep -c '^0x0102 0 10 170$' image.prof)" 1 "by address: CALL SUB1's cost"
"$RUN" --coverage image.info deep.com </dev/null 2>err
check "$?" 2 "orvane-run --coverage without a source"
grep -q 'needs the program.s source' err && ok || fail "says why: $(cat err)"
"$RUN" --profile deep.com deep.com </dev/null 2>/dev/null
check "$?" 2 "the profile over the program"
"$ASM" --run -q --profile p.x --coverage p.x deep.z80 </dev/null 2>err
check "$?" 2 "one file for both"
grep -q -- '--coverage p.x is the file --profile writes' err && ok || fail "says which: $(cat err)"

# On a board: the same loop in ROM at 0000H, ending in DI; HALT (exit 5).
# LD SP,nn 10, DI and HALT 4; the addresses are the HEX's, by ORG.
"$ASM" --run --hex -q --stats --profile bdeep.prof --coverage bdeep.info board_deep.z80 2>stats </dev/null
check "$?" 5 "board deep: exit status"
check "$(self_lines bdeep.prof | tr '\n' ' ')" \
  "3 1 10 4 1 7 5 10 170 6 10 125 7 1 4 8 1 4 9 10 170 10 10 100 11 10 170 12 10 100 13 10 40 14 10 100 " \
  "board deep: per-line counts"
check "$(arcs bdeep.prof)" "$(printf 'START SUB1 10 680\nSUB1 SUB2 10 410\nSUB2 SUB3 10 140')" "board deep: calls"
check "$(grep -E '^(summary:|0x0005 )' bdeep.prof | tr '\n' ' ')" "0x0005 5 10 170 0x0005 5 60 680 summary: 84 1000 " \
  "board deep: addresses and summary"
grep -q "1,000 T-states, 84 instructions" stats && ok || fail "board deep: --stats: $(cat stats)"
callgrind_annotate bdeep.prof >bannotate.txt 2>&1
grep -Eq '^ *84 \(100.0%\) +1,?000 \(100.0%\) +PROGRAM TOTALS' bannotate.txt && ok || fail "board annotate totals: $(grep TOTALS bannotate.txt)"
check "$(grep -E '^(DA|BRDA|FNDA):' bdeep.info | tr '\n' ' ')" \
  "FNDA:1,START FNDA:10,SUB1 FNDA:10,SUB2 FNDA:10,SUB3 BRDA:6,0,0,9 BRDA:6,0,1,1 DA:3,1 DA:4,1 DA:5,10 DA:6,10 DA:7,1 DA:8,1 DA:9,10 DA:10,10 DA:11,10 DA:12,10 DA:13,10 DA:14,10 DA:15,0 DA:16,0 " \
  "board deep: coverage records"
lcov --summary bdeep.info >bsummary.txt 2>&1
grep -q 'lines......: 85.7% (12 of 14 lines)' bsummary.txt && ok || fail "board lcov lines: $(cat bsummary.txt)"
# The image alone on orvane-run: by address; coverage needs the source.
"$ASM" -q --hex board_deep.z80 </dev/null
"$RUN" --board sbc-acia --profile bimage.prof board_deep.HEX </dev/null 2>/dev/null
check "$?" 5 "orvane-run --board --profile"
check "$(grep -E '^(summary|fn=0000H|fl=)' bimage.prof | tr '\n' ' ')" "fl=board_deep.HEX fn=0000H summary: 84 1000 " "board: by address"
check "$(grep -c '^0x0005 0 10 170$' bimage.prof)" 1 "board by address: CALL SUB1's cost"
"$RUN" --board sbc-acia --coverage bimage.info board_deep.HEX </dev/null 2>err
check "$?" 2 "orvane-run --board --coverage without a source"
grep -q 'orvane-asm --run --hex --coverage' err && ok || fail "board coverage: says how: $(cat err)"
# Interrupts: three bytes received, three IM 1 interrupts, each a call from
# the HALT to 0038H. The acknowledge's 13 T-states go to the handler's first
# line: 13+11 for IN A,(n), then EI 4 and RETI 14, 42 a time inclusive.
printf abc | "$ASM" --run --hex -q --profile birq.prof --coverage birq.info board_irq.z80 2>/dev/null
check "$?" 9 "board irq: exit status (input ended)"
check "$(self_lines birq.prof | awk '$1 >= 6 && $1 <= 8 || $1 == 17' | tr '\n' ' ')" "6 3 72 7 3 12 8 3 42 17 3 36 " \
  "board irq: handler lines"
check "$(arcs birq.prof)" "START RXINT 3 126" "board irq: the interrupts as calls"
check "$(grep -E '^FNDA:' birq.info | tr '\n' ' ')" "FNDA:1,START FNDA:3,RXINT " "board irq: routines"

# The example programs: the profile's totals are what the machine counted
# (--stats), BDOS calls and all.
for f in "$DATA"/../../examples/*.z80; do
  name=$(basename "$f" .z80)
  cp "$f" .
  "$ASM" --run -q --stats --max-tstates 50000000 --profile "$name.prof" "$name.z80" </dev/null >/dev/null 2>"$name.err"
  stats=$(sed -n 's/^orvane-asm: \([0-9,]*\) T-states, \([0-9,]*\) instructions.*/\2 \1/p' "$name.err" | tr -d ,)
  check "$(sed -n 's/^summary: //p' "$name.prof")" "$stats" "$name: profile totals against --stats"
  check "$(self_lines "$name.prof" | awk '{ n += $2; t += $3 } END { print n, t }')" "$stats" "$name: lines add up"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
