#!/usr/bin/env bash
# orvane-asm against every kind of file as listing, object and source: what is
# replaced, what is written in place, what is refused, and what a failed run
# leaves alone. Device nodes are made inside the scratch folder (root only),
# so no run can reach a device of the machine.
set -u
asm=$(realpath "$1")
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
cd "$top" && umask 022 && mkdir tmp ref && export TMPDIR=$top/tmp
root=$([ "$(id -u)" = 0 ] && echo 1 || echo 0)
[ "$root" = 1 ] || echo "notice: not root, rows with device nodes are skipped"
failed=0
printf ' DB 1\n DW 4660\n END\n' > prog.z80
(cd ref && "$asm" -l x -o o.HEX ../prog.z80 2>err) || { echo "FAIL: reference run"; exit 1; }

# What a path is after a run: a link and where it points, a FIFO, a device and
# its numbers, or a file's mode, link count and content: LST, HEX and SRC for
# the reference outputs and the source, a short text with blanks as _, or big.
desc() {
  if [ -L "$1" ]; then echo "link>$(readlink "$1" | sed 's|.*/||')"
  elif [ -p "$1" ]; then echo fifo
  elif [ -c "$1" ]; then echo "char$(stat -c %t,%T "$1")"
  elif [ ! -f "$1" ]; then echo none
  else
    printf '%s:' "$(stat -c %a:%h "$1")"
    if cmp -s "$1" ../ref/x; then echo LST; elif cmp -s "$1" ../ref/o.HEX; then echo HEX
    elif cmp -s "$1" ../prog.z80; then echo SRC; elif [ "$(stat -c %s "$1")" -gt 16 ]; then echo big
    else tr -s ' \r\n' _ <"$1"; echo; fi
  fi
}

# root | set-up in an empty folder | arguments | expected: exit status, then x,
# t, o.HEX and standard output as desc gives them | a text standard error holds
rows=$(cat <<'TABLE'
0| :                          | -l x -o o.HEX ../prog.z80    | 0 644:1:LST none 644:1:HEX 644:1:     | no errors; 3 bytes at 0000H-0002H; listing x,
0| :                          | -l x -o no/o.HEX ../prog.z80 | 2 none none none 644:1:               | no/o.HEX: cannot write
0| echo old >x; chmod 755 x   | -l x -o o.HEX ../prog.z80    | 0 755:1:LST none 644:1:HEX 644:1:     | no errors
0| echo old >x; chmod 755 x   | -l x -o no/o.HEX ../prog.z80 | 2 755:1:old_ none none 644:1:         | no/o.HEX
0| echo old >t; ln -s t x     | -l x -o o.HEX ../prog.z80    | 0 link>t 644:1:LST 644:1:HEX 644:1:   | no errors
0| echo old >t; ln -s t x     | -l x -o no/o.HEX ../prog.z80 | 2 link>t 644:1:old_ none 644:1:       | no/o.HEX
0| ln -s t x                  | -l x -o o.HEX ../prog.z80    | 0 link>t 644:1:LST 644:1:HEX 644:1:   | no errors
0| echo old >t; mkdir s; ln -s ../t s/x | -l s/x -o o.HEX ../prog.z80 | 0 none 644:1:LST 644:1:HEX 644:1: | no errors
0| ln -s t x                  | -l x -o no/o.HEX ../prog.z80 | 2 link>t none none 644:1:             | no/o.HEX
0| echo old >t; ln t x        | -l x -o o.HEX ../prog.z80    | 0 644:2:LST 644:2:LST 644:1:HEX 644:1: | no errors
0| echo old >t; ln t x        | -l x -o no/o.HEX ../prog.z80 | 2 644:2:old_ 644:2:old_ none 644:1:   | no/o.HEX
0| mkfifo x; timeout 10 cat x >t & | -l x -o o.HEX ../prog.z80 | 0 fifo 644:1:LST 644:1:HEX 644:1:   | no errors
0| mkfifo x                   | -l x -o no/o.HEX ../prog.z80 | 2 fifo none none 644:1:               | no/o.HEX
1| mknod x c 1 3              | -l x -o o.HEX ../prog.z80    | 0 char1,3 none 644:1:HEX 644:1:       | no errors
1| mknod x c 1 3              | -l x -o no/o.HEX ../prog.z80 | 2 char1,3 none none 644:1:            | no/o.HEX
0| :                          | -l - -o o.HEX ../prog.z80    | 0 none none 644:1:HEX 644:1:LST       | listing -,
0| :                          | -l - -o no/o.HEX ../prog.z80 | 2 none none none 644:1:               | no/o.HEX
0| :                          | -l x -o - ../prog.z80        | 0 644:1:LST none none 644:1:HEX       | object -
1| echo old >x; mknod t c 1 7 | -l x -o t ../prog.z80        | 2 644:1:old_ char1,7 none 644:1:      | t: cannot write: No space left on device
1| echo old >x; ln x y; mknod t c 1 7 | -l x -o t ../prog.z80 | 2 644:2:old_ char1,7 none 644:1:    | No space left on device
1| mknod t c 1 3              | -l t -o t ../prog.z80        | 0 none char1,3 none 644:1:            | listing t, object t
0| :                          | -l x -o ./x ../prog.z80      | 2 none none none 644:1:               | paths name the same file
0| ln -s t x                  | -l x -o t ../prog.z80        | 2 link>t none none 644:1:             | paths name the same file
0| ln ../prog.z80 x           | -l x -o o.HEX ../prog.z80    | 2 644:2:SRC none none 644:1:          | listing path names the source
0| :                          | -l - -o - ../prog.z80        | 2 none none none 644:1:               | only one output may go to standard output
0| :                          | --screen -o - ../prog.z80    | 2 none none none 644:1:               | only one output may go to standard output
0| :                          | -l x -o o.HEX - <../prog.z80 | 0 644:1:big none 644:1:HEX 644:1:     | no errors
0| :                          | - <../prog.z80               | 2 none none none 644:1:               | needs -l and -o
0| mkfifo t; timeout 10 cat ../prog.z80 >t & | -l x -o o.HEX t | 0 644:1:big fifo 644:1:HEX 644:1:  | no errors
0| mkfifo t; timeout 10 head -c 67108865 < <(yes ' NOP') >t & | -l x -o o.HEX t | 2 none fifo none 644:1: | longer than 64 MiB
0| perl -e 'print " ;", "x" x 67108862' >t | -l x -o o.HEX - <t | 0 644:1:big 644:1:big 644:1::00000001FF_ 644:1: | no errors
0| mkdir t                    | -l x -o o.HEX t              | 2 none none none 644:1:               | t: is a directory, not a source file
1| mknod t c 1 5              | -l x -o o.HEX t              | 2 none char1,5 none 644:1:            | t: is a character device, not a source file
0| printf ' XX\n' >t          | -l x -o o.HEX t              | 1 644:1:big 644:1:_XX_ 644:1::00000001FF_ 644:1: | 1 error in 1 statement
TABLE
)
n=0
while IFS='|' read -r need setup args expect message; do
  n=$((n + 1))
  if [ "$need" = 1 ] && [ "$root" = 0 ]; then continue; fi
  row=$(printf 'row %d: %s | %s' "$n" "$setup" "$args" | tr -s ' ')
  rm -rf w && mkdir w && cd w || exit 1
  eval "$setup"
  eval "timeout 10 \"\$asm\" $args >out 2>err"
  status=$?
  wait
  got="$status $(desc x) $(desc t) $(desc o.HEX) $(desc out)"
  want=$(echo $expect)
  [ "$got" = "$want" ] || { echo "FAIL: $row: got \"$got\", want \"$want\""; failed=1; }
  [ -n "$(echo $message)" ] && grep -qF -- "$(echo $message)" err || { echo "FAIL: $row: stderr \"$(cat err)\" lacks \"$message\""; failed=1; }
  leftover=$(ls -A . ../tmp | grep -c orvane-)
  [ "$leftover" = 0 ] || { echo "FAIL: $row: temporary files left"; failed=1; }
  cd ..
done <<<"$rows"
[ "$n" = 34 ] || { echo "FAIL: read $n rows"; failed=1; }
exit $failed
