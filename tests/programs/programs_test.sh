#!/usr/bin/env bash
# programs_test.sh BUILD SOURCE GENERATOR VERSION NAME=PATH...: what every
# Orvane program shares, checked for each program that is built.
set -u
build=$1 src=$2 generator=$3 version=$4
shift 4
declare -A path
for p in "$@"; do path[${p%%=*}]=${p#*=}; done
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Every program the README names is built by the programs target (scripts/run
# builds that target alone). orvane and orvane-run need Qt and libz80ex.
if [ "$generator" = Ninja ]; then
  inputs=$(ninja -C "$build" -t query programs | sed -n 's/^    //p')
  for name in $(grep -o '`orvane\(-[a-z]\+\)\?`' "$src/README.md" | tr -d '`' | sort -u); do
    case $name in orvane-cli) continue ;; esac  # the Debian package
    if [ -z "${path[$name]:-}" ]; then
      case $name in orvane | orvane-run) continue ;; esac
      fail "the README names $name, which this build does not make"
      continue
    fi
    grep -qx "${path[$name]#"$build"/}" <<<"$inputs" || fail "the programs target does not build $name (${path[$name]})"
  done
else
  echo "programs target: not checked with the $generator generator"
fi

# -v and --version: the same text, in the same layout in every program; help
# and version need no display.
first=''
for name in "${!path[@]}"; do
  for opt in -v --version -h --help; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 120 "${path[$name]}" "$opt" 2>&1)
    status=$?
    [ "$status" = 0 ] && [ -n "$out" ] || fail "$name $opt: exit $status: $(head -3 <<<"$out")"
    case $opt in
      -v) short=$out ;;
      --version)
        [ "$out" = "$short" ] || fail "$name: -v and --version differ"
        [ "$(head -1 <<<"$out")" = "$name $version" ] || fail "$name --version starts [$(head -1 <<<"$out")]"
        [ "$(grep -o 'https\?://[^ >]*' <<<"$out" | wc -l)" = 1 ] || fail "$name --version: not one address"
        body=$(sed -n 2,5p <<<"$out")
        [ -z "$first" ] && first=$body
        [ "$body" = "$first" ] || fail "$name --version: its lines 2 to 5 differ from another program's: $body"
        grep -q '^License GPL-3.0-or-later' <<<"$out" || fail "$name --version has no licence line"
        ;;
    esac
  done
done

# Every manual's SEE ALSO names the other programs.
all=(orvane-asm orvane-lsp orvane-run orvane-dap orvane)
for page in "$src"/packaging/*.1.in; do
  self=$(basename "$page" .1.in)
  see=$(sed -n '/^\.SH "SEE ALSO"/,/^\.SH /p' "$page" | sed 's/\\-/-/g')
  for other in "${all[@]}"; do
    [ "$other" = "$self" ] && continue
    grep -q "^\.BR $other (1)" <<<"$see" || fail "man $self: SEE ALSO does not name $other"
  done
done

# orvane-asm --run's options are all in its help and manual.
help=$("${path[orvane-asm]}" --help)
for opt in --max-tstates --stats --trace --trace-limit --dir --list; do
  grep -q -- " $opt " <<<"$help" || fail "orvane-asm --help does not name $opt"
  sed 's/\\-/-/g' "$src/packaging/orvane-asm.1.in" | grep -q -- "$opt\b" || fail "man orvane-asm does not name $opt"
done
[ "$failed" = 0 ] && echo "programs: ${#path[@]} programs checked"
exit $failed
