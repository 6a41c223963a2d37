#!/usr/bin/env bash
# orvane-asm run as a separate process: exit status, standard output and
# error, default paths, refusals, what is left on disk after good and failed
# runs, line ends, hostile sources, warnings and the cross-reference.
#   cli_test.sh ORVANE_ASM VERSION
ASM=$(realpath "$1") VERSION=$2 DATA=$(realpath "$(dirname "$0")") GOLDEN=$(realpath "$(dirname "$0")/../golden/cases")
. "$(dirname "$0")/lib.sh"
rows() { grep -v -e '^#' -e '^$' "$DATA/$1"; }  # rows FILE: the rows of a table here
for t in unusable.txt hex_end.txt warning_order.txt usage_names.txt option_values.txt columns.txt max_errors.txt; do
  [ -n "$(rows $t 2>/dev/null)" ] || fail "no rows in $t"
done

good='  DB 1\n  DW 4660\n  END\n'
hexlst='0000  01                    DB      1               \r\n0001  3412                  DW      4660            \r\n0003  @ 0000                END                     \r\n'
cpmlst='0100  01                    DB      1               \r\n0101  3412                  DW      4660            \r\n0103  0000                  END                     \r\n'
cpmbox='0100 01                  DB    1               \r\n0101 3412                DW    4660            \r\n0103 0000                END                   \r\n'
hex=':1000000001341200000000000000000000000000A9\r\n:00000001FF\r\n'

run_rows rows.txt

begin "default paths replace or append the extension"
mkdir sub.d
for row in "prog prog.LST prog.HEX" "my.prog.asm my.prog.LST my.prog.HEX" "sub.d/noext sub.d/noext.LST sub.d/noext.HEX" \
           "sub.d/x.Z80 sub.d/x.LST sub.d/x.HEX" "--cpm:sub.d/.hidden sub.d/.hidden.LST sub.d/.hidden.com"; do
  set -- $row; opt=""; src=$1
  case $src in --cpm:*) opt=--cpm; src=${src#--cpm:} ;; esac
  put "$src" "$good"; run $opt "$src"; status_is 0; [ -f "$2" ] && [ -f "$3" ] && ok || fail "no $2 or $3 for $src"
done

begin "help and version"
for opt in --help -h; do run $opt; status_is 0; check "$(head -1 "$base/out")" "usage: orvane-asm [--hex | --cpm] [-l LISTING] [-o OBJECT] [--screen] [--xref FILE] [--symbols FILE]" "$opt"; done
run --version; status_is 0; check "$(head -1 "$base/out")" "orvane-asm $VERSION" "--version"; files_are

begin "usage errors and unusable paths: status 2, nothing written"
put prog.z80 "$good"; mkdir adir; ln -s prog.z80 link.LST; put x.LST "$good"; put y.HEX "$good"; put z.com "$good"
while IFS= read -r args; do
  [ "$args" = - ] && args=''
  eval "run $args"; status_is 2; out_is ''
  check "$(head -c 12 "$base/err")" "orvane-asm: " "message for [$args]"
  files_are adir link.LST prog.z80 x.LST y.HEX z.com; file_is prog.z80 "$good"; file_is x.LST "$good"
done < <(rows unusable.txt)
run -o nodir/p.HEX prog.z80; check "$(grep -c nodir/p.HEX "$base/err")" 1 "the path in the message"
[ -L link.LST ] && ok || fail "the link was replaced"

begin "a failed run leaves earlier outputs untouched; a shorter program replaces them whole"
line=''; for i in $(seq 100); do line="$line  DS 'ABCDEFGHIJ'\n"; done
put prog.z80 "$line"; run --cpm prog.z80; status_is 0; check "$(stat -c %s prog.com)" 1000 "image size"
run prog.z80; status_is 0; check "$(stat -c %s prog.HEX)" $((63 * 45 + 13)) "HEX size"
sums=$(md5sum prog.LST prog.HEX); put prog.z80 '  DB 7\n'
run -o nodir/x.HEX prog.z80; status_is 2
run -l nodir/x.LST prog.z80; status_is 2
check "$(md5sum prog.LST prog.HEX)" "$sums" "earlier outputs"
ino=$(stat -c %i prog.LST); run --cpm prog.z80; status_is 0; file_is prog.com '\007'
[ "$(stat -c %i prog.LST)" != "$ino" ] && ok || fail "a file with one link is replaced whole, not rewritten"
file_is prog.LST 'prog.z80\r\n0100  07                    DB      7               \r\n'
run prog.z80; file_is prog.HEX ':1000000007000000000000000000000000000000E9\r\n:00000001FF\r\n'
mv prog.z80 keep.z80; run prog.z80; status_is 2; file_is prog.com '\007'; files_are keep.z80 prog.LST prog.HEX prog.com

begin "the last HEX record before FFFFH declares only the bytes up to FFFFH"
text="DS 'ABCDEFGHIJKLMNOPQRST'"
while IFS='|' read -r org body want range; do
  put w.z80 "  ORG &H$org\n  ${body//TEXT/$text}\n  END\n"; run -q w.z80
  status_is 0; file_is w.HEX "$want"
  if command -v srec_info >/dev/null; then  # an independent reader: the data end at FFFFH, checksums good
    info=$(srec_info w.HEX -Intel 2>&1) && ok || fail "srec_info refuses w.HEX for $org: $info"
    ranges=$(sed -nE 's/^(Data:)?[[:space:]]+([0-9A-F]+) - ([0-9A-F]+)$/\2-\3/p' <<<"$info" | sort | tr '\n' ' ')
    grep -qE "(^| )$range " <<<"$ranges" && ! grep -qE '[0-9A-F]{5}' <<<"$ranges" && ok || fail "srec_info for $org: $ranges"
  fi
done < <(rows hex_end.txt)

begin "line ends: LF, CR LF, a lone CR, mixed, none at the end"
for src in '  DB 1\n  DB 2\n\n  DB 3\n' '  DB 1\r\n  DB 2\r\n\r\n  DB 3\r\n' '  DB 1\r  DB 2\r\r  DB 3\r' '  DB 1\r\n  DB 2\n\r  DB 3'; do
  put le.z80 "$src"; run le.z80; status_is 0
  entries='0000  01                    DB      1               \r\n0001  02                    DB      2               \r\n0002                                                \r\n0002  03                    DB      3               \r\n'
  file_is le.LST "le.z80\r\n$entries"
  "$ASM" -l in.LST -o in.HEX - <le.z80 2>"$base/err"; file_is in.LST "-\r\n$entries"  # read once, from memory
done

begin "line ends across the reader's 64 KiB pieces"
tail='0100  05                    DB      5               \r\n0101  06                    DB      6               \r\n'
for n in 65535 65534 65536 131071; do
  for end in '\r\n' '\r' '\n'; do
    { printf '  ;'; printf "%$((n - 3))s" '' | tr ' ' X; printf "$end  DB 5$end  DB 6"; } >big.z80
    run --cpm big.z80; status_is 0; file_is big.com '\005\006'
    check "$(stat -c %s big.LST)" $((9 + 52 + n - 1 + 2 + 108)) "listing size ($n $end)"
    cmp -s <(tail -c 108 big.LST) <(printf "$tail") && ok || fail "last entries ($n $end)"
  done
done

begin "hostile sources finish with the outputs their statements call for"
perl -e 'print "  NOP ;", "x" x 10485760' >a.z80; run --cpm a.z80; status_is 0
check "$(stat -c %s a.com a.LST | tr '\n' ' ')" "1 $((7 + 52 + 1 + 10485760 + 1 + 2)) " "10 MB comment"
perl -e 'print "  DS \x27", "a" x 10485760, "\x27"' >b.z80; run --cpm b.z80; status_is 0
check "$(stat -c %s b.com)" 10485760 "10 MB text"
perl -e 'print "Q" x 10485760' >c.z80; run c.z80; status_is 0; file_is c.HEX ':00000001FF\r\n'
check "$(stat -c %s c.LST)" $((7 + 52 + 2)) "10 MB label"
perl -e 'print "\0" x 10485760' >d.z80; run d.z80; status_is 0; file_is d.HEX ':00000001FF\r\n'
perl -e '$d = "(" x 200000 . "1" . ")" x 200000; print "  LD A,$d\n  DB $d\n  DW $d\n  LD A,", "(" x 200000, "1\n"' >e.z80
run --cpm e.z80; status_is 1; check "$(stat -c %s e.com)" 9 "deep parentheses"
perl -e 'print "  NOP\r" x 300000' >f.z80; run --cpm f.z80; status_is 0; check "$(stat -c %s f.com)" 300000 "lone CR lines"
perl -e 'srand(7); print map { chr(int(rand(256))) } 1 .. 4194304' >g.z80; run --cpm g.z80
[ "$status" -le 1 ] && ok || fail "garbage: status $status"
sent=$(grep -o '; [0-9]* byte' "$base/err" | tr -dc '0-9'); check "$(stat -c %s g.com)" "${sent:-0}" "garbage: image size and bytes sent"

begin "warnings coloured on a terminal unless NO_COLOR is set"
put w.z80 '  DB 300\n'
for nc in "" 1; do
  NO_COLOR=$nc script -qec "$ASM w.z80" "$base/tty" >"$base/out" <"$base/empty"
  check "$(grep -c $'\e\[1;35mwarning:' "$base/tty")" "$([ -z "$nc" ] && echo 1 || echo 0)" "terminal, NO_COLOR=$nc"
done

begin "a cross-reference, and a symbol file another program reads back"
cp "$GOLDEN/../../../examples/items.z80" .
run --cpm --xref items.xref --symbols items.sym items.z80; status_is 0
cmp -s items.xref "$DATA/items.xref" && ok || fail "cross-reference: $(diff items.xref "$DATA/items.xref" | head -5)"
cmp -s items.sym "$DATA/items.sym" && ok || fail "symbol file"
{ cat items.sym; printf '  CALL PUTS\n  DW TOTAL\n'; } >two.z80; run -l two.LST -o - two.z80
status_is 0; out_is ':10000000CDB401F401000000000000000000000079\r\n:00000001FF\r\n'
cp "$GOLDEN/decisions.z80" .; run --xref d.xref decisions.z80
check "$(tr -d '\r' <d.xref | grep -c -e '^THREE  *line 6, first on line 5$' -e '^UNDEF  *4$')" 2 "undefined and twice-defined names in the cross-reference"

begin "warning options act in order"
put w.z80 '  DB 300\n  NOP 5\n  LD A,(IX+200)\n'
while IFS='|' read -r args want; do
  run $args w.z80; status_is 0
  check "$(grep -o '\[-W[a-z-]*\]' "$base/err" | tr '\n' ' ')" "$want" "[$args]"
done < <(rows warning_order.txt)

begin "usage errors that name the problem"
put w.z80 '  DB 1\n'
names='the warnings are extra-operand, truncation, label-semicolon, cpm-org-gap, hex-overlap, after-end, address-wrap, db-text, db-separator, displacement-sign, text-case'
while IFS='|' read -r args want; do
  eval "run $args"; status_is 2; check "$(head -1 "$base/err")" "orvane-asm: ${want//NAMES/$names}" "[$args]"; files_are w.z80
done < <(rows usage_names.txt)

begin "an option's value after '=' or as the next argument, as getopt_long takes them"
put w.z80 '  LD A,300\nX EQU 5\n'
while IFS='|' read -r joined apart; do
  eval "run $joined"; s1=$status; cat "$base/err" out.* w.* 2>/dev/null >"$base/joined"; rm -f out.* w.LST w.HEX w.com
  eval "run $apart"; check "$status" "$s1" "status of [$apart] and [$joined]"
  cat "$base/err" out.* w.* 2>/dev/null >"$base/apart"; rm -f out.* w.LST w.HEX w.com
  cmp -s "$base/joined" "$base/apart" && ok || fail "[$joined] and [$apart] differ"
  [ -s "$base/joined" ] && ok || fail "[$joined] wrote nothing"
done < <(rows option_values.txt)

begin "columns count UTF-8 characters, in the location and under the caret"
while IFS='|' read -r line where caret; do
  put u.z80 "$line\n"; run u.z80
  check "$(head -1 "$base/err" | cut -d' ' -f1)" "$where" "location of [$line]"
  check "$(sed -n 3p "$base/err")" "$(printf -- "$caret")" "caret of [$line]"
done < <(rows columns.txt)

begin "the margin grows for line numbers of 6 digits and more"
perl -e 'print "\n" x 99998, "  LD A,300\n", "  LD A,301\n"' >m.z80; run m.z80
check "$(sed -n '2p;3p;5p;6p' "$base/err" | tr '\n' '|')" "99999 |   LD A,300|      |        ^~~|100000 |   LD A,301|       |        ^~~|" "quoted lines and carets"

begin "eight programs at once through one pipe: every message stays whole"
for n in 1 2 3 4 5 6 7 8; do
  for i in $(seq 1500); do echo "  LD A,P${n}L$i"; done >"p$n.z80"
done
{ for n in 1 2 3 4 5 6 7 8; do "$ASM" --max-errors=0 "p$n.z80" <"$base/empty" & done; wait; } 2>&1 >stdout.txt | cat >all.txt
bad=$(awk '
  state == 0 && match($0, /^p[1-8]\.z80:[0-9]+:8: error: Undefined Symbol Referenced$/) {
    split($0, f, /[.:]/); want = sprintf("%5d |   LD A,%sL%d", f[3], toupper(f[1]), f[3]); state = 1; n++; next }
  state == 1 { if ($0 != want) bad++; state = 2; next }
  state == 2 { if ($0 !~ /^      \|        \^~+$/) bad++; state = 0; next }
  /^orvane-asm: 1500 errors in 1500 statements; / { summaries++; next }
  { bad++ }
  END { print bad + 0, n + 0, summaries + 0 }' all.txt)
check "$bad" "0 12000 8" "broken lines, messages, summaries"
check "$(stat -c %s stdout.txt)" 0 "nothing on standard output"

begin "a flood of messages: at most --max-errors shown, every one counted"
for i in $(seq 60); do printf '  LD A,Q%d\n' "$i"; done >many.z80; printf '  DB 300\n  DB 301\n' >>many.z80
while read -r opt shown hidden; do
  run $opt many.z80; status_is 1
  check "$(grep -c -e ' error: ' -e ' warning: ' "$base/err")" "$shown" "shown with [$opt]"
  check "$(grep 'not shown' "$base/err")" "$hidden" "hidden with [$opt]"
  grep -q '^orvane-asm: 60 errors in 60 statements, 2 warnings; ' "$base/err" && ok || fail "summary with [$opt]"
done < <(rows max_errors.txt)

finish
