#!/usr/bin/env bash
# readme_test.sh SOURCE BUILD ORVANE_ASM ORVANE_RUN|-: the README's command
# examples, taken from the README itself and run: the messages example, the
# Makefile rule, the PATH set-up, the install for one user, the CP/M example
# and its runtime message.
set -u
src=$1 build=$2 asm=$3 run=$4
readme=$src/README.md
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL [$case_name]: $*"; failed=1; }
# block FIRST-LINE-PATTERN: the README's indented block from the line that
# matches, to the next line that is not indented (blank lines inside kept),
# without the indentation.
block() {
  awk -v pat="$1" '
    !on && $0 ~ "^    " && substr($0, 5) ~ pat { on = 1 }
    on { if ($0 != "" && $0 !~ /^    /) exit; print }' "$readme" | sed -e 's/^    //' -e '${/^$/d}'
}
PATH=$(dirname "$asm"):$PATH
[ "$run" != - ] && PATH=$(dirname "$run"):$PATH

case_name="the messages example"
mkdir "$tmp/m" && cd "$tmp/m" || exit 2
want=$(block '^prog\.z80:12:')
[ -n "$want" ] || fail "no such block"
# Lines 12 to 14 as the example shows them, 21 bytes before them.
{ echo " ; prog.z80"; for i in 1 2 3 4 5 6 7; do echo "  LD HL,0"; done; printf ' ;\n ;\n ;\n'
  sed -n 's/^ *1[234] | //p' <<<"$want"; echo "  END"; } >prog.z80
got=$(orvane-asm --cpm prog.z80 2>&1)
[ "$got" = "$want" ] || fail "$(diff <(echo "$want") <(echo "$got"))"

case_name="the Makefile rule"
mkdir "$tmp/make" && cd "$tmp/make" || exit 2
block '^\.DELETE_ON_ERROR:' >Makefile
grep -q $'^\torvane-asm' Makefile || fail "no rule with a tab in: $(cat -A Makefile)"
cp "$src/examples/hello.z80" . && printf '  FOO\n' >bad.z80
out=$(make -s hello.com hello.HEX 2>&1) && [ -z "$out" ] && [ -s hello.com ] && [ -s hello.HEX ] ||
  fail "make hello.com hello.HEX: $out"
orvane-asm -q --cpm -o ref.com hello.z80 && cmp -s ref.com hello.com || fail "make wrote another hello.com"
make -s bad.com >/dev/null 2>&1 && fail "make bad.com succeeded"
[ -e bad.com ] && fail "bad.com is left behind for the next make"
out=$(make hello.com 2>&1); [ "$out" = "make: 'hello.com' is up to date." ] || fail "second make: $out"

case_name="the set-up names every program"
for p in orvane-asm orvane-run orvane-lsp orvane-dap; do
  sed -n '/^cat <<EOF$/,/^EOF$/p' "$src/scripts/run" | grep -qw -- "$p" || fail "scripts/run's closing lines do not name $p"
  sed -n '/^## Set-up on Debian 12/,/^    bash scripts\/run$/p' "$src/README.md" | grep -q "\`$p\`" ||
    fail "the README's set-up paragraph does not name $p"
done

case_name="the PATH line"
line=$(block '^export PATH=')
[ -n "$line" ] || fail "no such block"
got=$(cd "$src" && env -i HOME="$tmp" PATH=/usr/bin:/bin bash -c "${line//\$PWD\/build\//$build/}; command -v orvane-asm orvane-lsp orvane-dap")
[ "$got" = "$(printf '%s\n' "$build/src/orvane-asm" "$build/src/orvane-lsp" "$build/src/orvane-dap")" ] || fail "the programs are not on PATH: $got"

case_name="the install for one user"
line=$(block '^cmake --install build --prefix ~/.local')
[ "$line" = "cmake --install build --prefix ~/.local" ] || fail "no such block: [$line]"
mkdir "$tmp/home"
(cd "$src" && HOME=$tmp/home bash -c "${line/ build / $build }" >/dev/null) || fail "$line failed"
for p in orvane-asm orvane-lsp; do
  "$tmp/home/.local/bin/$p" --version >/dev/null || fail "~/.local/bin/$p does not run"
done
grep -q "(load \"$tmp/home/.local/share/orvane/editors/emacs/orvane-lsp.el\")" \
  "$tmp/home/.local/share/orvane/editors/emacs/orvane-lsp.el" || fail "orvane-lsp.el does not name where it is"

if [ "$run" != - ]; then
  case_name="running the CP/M example"
  mkdir -p "$tmp/c/examples" && cp "$src/examples/hello.z80" "$tmp/c/examples/" && cd "$tmp/c" || exit 2
  block '^orvane-asm --cpm examples/hello.z80$' | head -2 >steps.sh
  [ "$(wc -l <steps.sh)" = 2 ] || fail "no such block"
  out=$(bash -e steps.sh 2>&1 </dev/null) || fail "$(cat steps.sh): $out"
  [ -n "$out" ] || fail "hello.com printed nothing"

  case_name="a runtime message names the source line"
  want=$(block '^orvane-asm: HALT at 0107H')
  [ -n "$want" ] || fail "no such block"
  mkdir "$tmp/r" && cd "$tmp/r" || exit 2
  printf ' ; prog.z80\n        LD HL,0\n        LD IX,0\n        HALT\n' >prog.z80
  got=$(orvane-asm -q --run prog.z80 2>&1 </dev/null)
  [ "$got" = "$want" ] || fail "got [$got], want [$want]"
fi

case_name="a source whose name starts with -"
mkdir "$tmp/d" && cd "$tmp/d" || exit 2
printf '  NOP\n' >./-odd.z80
cmd=$(grep -o '`orvane-asm -- -odd.z80`' "$readme" | tr -d '`')
[ -n "$cmd" ] && bash -c "$cmd" 2>/dev/null && [ -f ./-odd.HEX ] || fail "[$cmd] wrote no -odd.HEX"

[ "$failed" = 0 ] && echo "readme: every example checked"
exit $failed
