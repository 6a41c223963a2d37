#!/usr/bin/env bash
# orvane-asm against every kind of file as listing, object and source: what is
# replaced, what is written in place, what is refused, and what a failed or
# stopped run leaves alone. Device nodes are made inside the scratch folder
# (root only; a block node has major 240, kept for local use, which no driver
# answers), mounts only in a private mount namespace, so no run can reach a
# device or a file of the machine. Events inside a run (a source edited
# between the passes, a directory renamed, a signal) come from a preloaded
# shim at an exact point of the run, never from a moment in time.
set -u
asm=$(realpath "$1")
shim=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
# Optional: run only the table's rows FIRST..LAST (the suite runs it in parts,
# each well within a test's time); the root-folder rows go with the last part.
first=${3:-1} last=${4:-1000}
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
# Rows run as nobody must reach the folder.
chmod 711 "$top"
cd "$top" && umask 022 && mkdir tmp ref && export TMPDIR=$top/tmp
chmod 1777 tmp
root=$([ "$(id -u)" = 0 ] && echo 1 || echo 0)
[ "$root" = 1 ] || echo "notice: not root, rows with device nodes, mounts or another user are skipped"
ns=0; [ "$root" = 1 ] && unshare -m true 2>/dev/null && ns=1
nob=0; [ "$root" = 1 ] && setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null && nob=1
[ "$root" = 1 ] && [ "$ns" = 0 ] && echo "notice: no private mount namespace, its rows are skipped"
[ "$root" = 1 ] && [ "$nob" = 0 ] && echo "notice: cannot run as nobody, its rows are skipped"
shimenv="env LD_PRELOAD=$shim ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
failed=0
printf ' DB 1\n DW 4660\n END\n' > prog.z80
(cd ref && "$asm" -l x -o o.HEX ../prog.z80 2>err) || { echo "FAIL: reference run"; exit 1; }
chmod 644 ref/x ref/o.HEX

# What a path is after a run: a link and where it points, a FIFO, a device and
# its numbers, or a file's mode, link count and content: LST, HEX and SRC for
# the reference outputs and the source, LSTBODY for the reference listing under
# another first line (the source's name), a short text with blanks as _, or big.
desc() {
  if [ -L "$1" ]; then echo "link>$(readlink "$1" | sed 's|.*/||')"
  elif [ -p "$1" ]; then echo fifo
  elif [ -c "$1" ]; then echo "char$(stat -c %t,%T "$1")"
  elif [ -b "$1" ]; then echo "block$(stat -c %t,%T "$1")"
  elif [ ! -f "$1" ]; then echo none
  else
    printf '%s:' "$(stat -c %a:%h "$1")"
    if cmp -s "$1" ../ref/x; then echo LST; elif cmp -s "$1" ../ref/o.HEX; then echo HEX
    elif [ "$(stat -c %s "$1")" -gt 16 ] && cmp -s <(tail -n +2 "$1") <(tail -n +2 ../ref/x); then echo LSTBODY
    elif cmp -s "$1" ../prog.z80; then echo SRC; elif [ "$(stat -c %s "$1")" -gt 16 ]; then echo big
    else tr -s ' \r\n' _ <"$1"; echo; fi
  fi
}

rows=$(grep -v -e '^#' -e '^$' "$here/rows.txt")
n=0
while IFS='|' read -r need setup args expect message; do
  n=$((n + 1))
  if [ "$n" -lt "$first" ] || [ "$n" -gt "$last" ]; then continue; fi
  if [ "$need" != 0 ] && [ "$root" = 0 ]; then continue; fi
  if { [ "$need" = 2 ] && [ "$ns" = 0 ]; } || { [ "$need" = 3 ] && [ "$nob" = 0 ]; }; then continue; fi
  row=$(printf 'row %d: %s | %s' "$n" "$setup" "$args" | tr -s ' ')
  rm -rf w && mkdir w && cd w || exit 1
  pre= look="x t o.HEX out"
  eval "$setup"
  # The bound is far above any normal time (a 64 MiB source under the
  # sanitizers on a busy machine included); it only ends a hung run.
  eval "timeout 300 $pre \"\$asm\" >>out 2>>err $args"
  status=$?
  wait
  got="$status"
  for f in $look; do got="$got $(desc "$f")"; done
  want=$(echo $expect)
  [ "$got" = "$want" ] || { echo "FAIL: $row: got \"$got\", want \"$want\""; failed=1; }
  [ -n "$(echo $message)" ] && ! grep -qF -- "$(echo $message)" err && { echo "FAIL: $row: stderr \"$(cat err)\" lacks \"$message\""; failed=1; }
  grep -q "^shim:" err && { echo "FAIL: $row: $(grep "^shim:" err)"; failed=1; }
  leftover=$(find . ../tmp -name '*orvane-*' | head -3)
  [ -z "$leftover" ] || { echo "FAIL: $row: temporary files left: $leftover"; failed=1; }
  cd ..
done <<<"$rows"
[ "$n" = 72 ] || { echo "FAIL: read $n rows"; failed=1; }

# What a run killed outright left (SIGKILL gives no time to clean up): the
# next run of an output removes the files named exactly as its temporaries
# (NAME.orvane- and six letters or digits) that are this user's regular files
# and that no live run holds a lock on, and says so; nothing else is touched.
# Each row runs in the last part: need | set-up | outputs | the *orvane-*
# names left after the run | the notes standard error holds, split by ;
if [ "$last" -ge "$n" ]; then
  left=$(grep -v -e '^#' -e '^$' "$here/leftovers.txt") || { echo "FAIL: no rows in leftovers.txt"; failed=1; }
  while IFS='|' read -r need setup outs kept notes; do
    [ "$need" = 1 ] && [ "$nob" = 0 ] && continue
    rm -rf w && mkdir w && cd w || exit 1
    row="leftovers: $(echo $setup)"
    eval "$setup"
    eval "timeout 300 \"\$asm\" $outs ../prog.z80 >out 2>err"
    status=$?
    exec 9<&-
    got=$(find . -name '*orvane-*' | sed 's|^\./||' | sort | tr '\n' ' ')
    want=$(echo $kept)
    [ "$status" = 0 ] && [ "$got" = "$want${want:+ }" ] || { echo "FAIL: $row: exit $status, left \"$got\", want \"$want\""; failed=1; }
    [ "$(grep -c 'note: removed' err)" = "$(echo "$notes" | tr ';' '\n' | grep -c .)" ] || { echo "FAIL: $row: notes $(cat err)"; failed=1; }
    IFS=';' read -ra each <<<"$notes"
    for note in "${each[@]}"; do
      note=$(echo $note)
      [ -z "$note" ] || grep -qF "orvane-asm: note: removed $note, a temporary file left by an earlier run that was killed" err ||
        { echo "FAIL: $row: stderr \"$(cat err)\" lacks \"$note\""; failed=1; }
    done
    cd ..
  done <<<"$left"
fi

# Outputs in the root folder, in a root of our own: a tmpfs made the root of a
# private mount namespace (the system's /usr bound into it for the program's
# libraries), so no row touches the machine's /. Two new files of the same
# name in / are one file; one alone is written there.
if [ "$ns" = 1 ] && [ "$last" -ge "$n" ]; then
  mkdir rootfs
  rootrows=$(grep -v -e '^#' -e '^$' "$here/root.txt") || { echo "FAIL: no rows in root.txt"; failed=1; }
  while IFS='|' read -r args want; do
    got=$(unshare -m sh -c '
      set -e
      r=$1; asm=$2; shift 2
      mount -t tmpfs none "$r"
      mkdir "$r/usr" "$r/proc" "$r/prog"
      ln -s usr/lib "$r/lib"; ln -s usr/lib64 "$r/lib64"; ln -s usr/bin "$r/bin"
      mount --bind /usr "$r/usr"; mount -t proc proc "$r/proc"; mount --bind "$(dirname "$asm")" "$r/prog"
      printf " DB 1\n" >"$r/p.z80"
      cd "$r"
      status=0; chroot "$r" "/prog/$(basename "$asm")" "$@" 2>"$r/err" || status=$?
      echo "$status $(ls "$r" | grep -v -e usr -e proc -e prog -e lib -e bin -e err | tr "\n" " ")$(head -c 80 "$r/err")"
    ' sh "$top/rootfs" "$asm" $args 2>&1)
    [ "$got" = "$want" ] || { echo "FAIL: in /: [$args]: got \"$got\", want \"$want\""; failed=1; }
  done <<<"$rootrows"
fi
exit $failed
