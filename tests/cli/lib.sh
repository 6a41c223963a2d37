# Helpers for the process tests of orvane-asm: each case runs the program in
# a fresh folder under one temporary folder and checks what it left behind.
# Sourced by the test scripts, which set ASM to the program first.
set -u
base=$(mktemp -d)
: >"$base/empty"
trap 'chmod -R u+w "$base" 2>/dev/null; rm -rf "$base"' EXIT
passed=0 failed=0 case_name=""

begin() { # begin NAME: a new case in an empty folder
  case_name=$1
  rm -rf "$base/w" && mkdir "$base/w" && cd "$base/w" || exit 2
}
fail() { echo "FAIL [$case_name]: $*"; failed=$((failed + 1)); }
ok() { passed=$((passed + 1)); }
check() { if [ "$1" = "$2" ]; then ok; else fail "$3: got [$1], want [$2]"; fi; }

run() { # run ARGS...: the program with stdout and stderr kept apart
  "$ASM" "$@" >"$base/out" 2>"$base/err" <"$base/empty"
  status=$?
}
put() { printf -- "$2" >"$1"; }                 # put FILE PRINTF-FORMAT
# source_of STATEMENTS DATA FILE: FILE from statements separated by " / " (a label
# with its colon in the first column, the rest indented), or copied from
# DATA/NAME for STATEMENTS of @NAME.
source_of() {
  if [[ $1 == @* ]]; then cp "$2/${1#@}" "$3"; return; fi
  local s=$1 st
  : >"$3"
  while [ -n "$s" ]; do
    st=${s%% / *}; [ "$st" = "$s" ] && s='' || s=${s#* / }
    if [[ ${st%% *} == *: ]]; then echo "$st"; else echo "        $st"; fi >>"$3"
  done
}
status_is() { check "$status" "$1" "exit status (stderr: $(head -c 300 "$base/err"))"; }
err_is() { check "$(cat "$base/err")" "$(printf -- "$1")" "standard error"; }
out_is() { if cmp -s "$base/out" <(printf -- "$1"); then ok; else fail "standard output: $(head -c 300 "$base/out" | od -c | head -5)"; fi; }
file_is() { # file_is FILE PRINTF-FORMAT: the exact bytes
  if cmp -s "$1" <(printf -- "$2"); then ok; else fail "$1 differs: $(head -c 200 "$1" 2>&1 | od -c | head -4)"; fi
}
file_as() { cmp -s "$1" "$DATA/$2" && ok || fail "$1 is not $2: $(diff "$1" "$DATA/$2" 2>&1 | head -5)"; }  # file_as FILE GOLDEN
files_are() { check "$(ls -A | sort | tr '\n' ' ')" "$( (($#)) && printf '%s\n' "$@" | sort | tr '\n' ' ')" "files"; }

# fields N LINE: the array f of LINE's fields, split at " | " and trimmed ("-"
# an empty one); a line without N fields fails.
fields() {
  local rest=$2 s
  f=()
  while :; do
    s=${rest%% | *}; s=${s#"${s%%[! ]*}"}; s=${s%"${s##*[! ]}"}; [ "$s" = - ] && s=''
    f+=("$s"); [[ $rest == *" | "* ]] || break; rest=${rest#* | }
  done
  [ ${#f[@]} -eq "$1" ] || { fail "row with ${#f[@]} fields: $2"; return 1; }
}
# text_is FILE CELL: FILE holds what a row's cell says: "*" anything, @NAME the
# bytes of DATA/NAME, $NAME the printf format in that variable, else a printf format.
text_is() {
  case $2 in
    '*') ;;
    @*) file_as "$1" "${2#@}" ;;
    \$*) local v=${2#\$}; file_is "$1" "${!v}" ;;
    *) file_is "$1" "$2" ;;
  esac
}
# run_rows FILE [COMMAND]: the rows of DATA/FILE (NAME | SETUP | ARGUMENTS | STATUS
# | STDOUT | STDERR | CHECKS; tests/cli/rows.txt explains them), each run as
# COMMAND ARGUMENTS (run unless given) in a case of its own; a missing or
# empty FILE fails.
run_rows() {
  local rows line
  rows=$(grep -v -e '^#' -e '^$' "$DATA/$1") && [ -n "$rows" ] || fail "no rows in $1"
  while IFS= read -r line; do
    fields 7 "$line" || continue
    begin "${f[0]}"; eval "${f[1]}"; eval "${2:-run} ${f[2]}"
    [ "${f[3]}" = '*' ] || status_is "${f[3]}"
    text_is "$base/out" "${f[4]}"; text_is "$base/err" "${f[5]}"; eval "${f[6]}"
  done <<<"$rows"
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
