#!/usr/bin/env bash
# Runs every example program with orvane-run and compares what it prints with
# NAME.out here, the text worked out by hand from the source (each line end
# there stands for the CR LF the program prints). Every example must have one.
#   cpu_test.sh ORVANE_ASM ORVANE_RUN EXAMPLES_DIR
ASM=$(realpath "$1") RUN=$(realpath "$2") EXAMPLES=$(realpath "$3") DATA=$(realpath "$(dirname "$0")")
. "$DATA/../cli/lib.sh"
for src in "$EXAMPLES"/*.z80; do
  name=$(basename "$src" .z80)
  begin "$name"
  "$ASM" --cpm -o "$name.com" -l "$name.LST" "$src" >msg 2>&1 || fail "orvane-asm: $(cat msg)"
  "$RUN" --max-tstates 100000000 "$name.com" <"$base/empty" >"$base/out" 2>"$base/err"
  status=$?
  status_is 0; err_is ''
  [ -f "$DATA/$name.out" ] || fail "no $name.out"
  if cmp -s "$base/out" <(sed -z 's/\n/\r\n/g' "$DATA/$name.out"); then ok; else fail "printed: $(od -c "$base/out" | head -5)"; fi
done
finish
