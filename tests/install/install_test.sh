#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR BUILT_ORVANE_ASM GUI(0|1): installs into a temporary DESTDIR.
set -euo pipefail
build=$1 src=$2 built=$3 gui=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "install_test: FAIL: $*" >&2; exit 1; }
DESTDIR="$tmp/dest" cmake --install "$build" --prefix /usr >"$tmp/install.log"
usr=$tmp/dest/usr

# Exactly these files: nothing of the tests, benchmarks or fuzz targets.
pages=(orvane-asm orvane-lsp)
want=(bin/orvane-asm bin/orvane-lsp share/doc/orvane/{README.md,copyright,changelog.gz})
for f in $(cd "$src/packaging/editors" && find . -type f -printf '%P\n'); do want+=("share/orvane/editors/$f"); done
for f in "$src"/examples/*.z80; do want+=("share/doc/orvane/examples/${f##*/}"); done
if [ "$gui" = 1 ]; then
  pages+=(orvane)
  want+=(bin/orvane share/applications/orvane.desktop share/icons/hicolor/scalable/apps/orvane.svg
         share/icons/hicolor/{16x16,24x24,32x32}/apps/orvane.png share/mime/packages/orvane.xml)
fi
if [ -x "$build/src/runner/orvane-run" ]; then pages+=(orvane-run); want+=(bin/orvane-run); fi
if [ -x "$build/src/orvane-dap" ]; then pages+=(orvane-dap); want+=(bin/orvane-dap); fi
for p in "${pages[@]}"; do want+=("share/man/man1/$p.1.gz"); done
diff <(printf '%s\n' "${want[@]}" | sort) <(cd "$usr" && find . -type f -printf '%P\n' | sort) ||
  fail "installed files differ from the list above (< missing, > extra)"

# The installed orvane-asm assembles the example into the 25 bytes the built one writes.
for d in inst built; do mkdir "$tmp/$d" && cp "$src/examples/hello.z80" "$tmp/$d/"; done
"$usr/bin/orvane-asm" --cpm "$tmp/inst/hello.z80" 2>"$tmp/err" || fail "installed orvane-asm: $(cat "$tmp/err")"
"$built" --cpm "$tmp/built/hello.z80" 2>"$tmp/err"
cmp "$tmp/inst/hello.com" "$tmp/built/hello.com" && [ "$(stat -c %s "$tmp/inst/hello.com")" -eq 25 ] ||
  fail "installed orvane-asm wrote another hello.com"

# The installed language server starts and ends as the protocol says.
printf 'Content-Length: 58\r\n\r\n{"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}' |
  "$usr/bin/orvane-lsp" >"$tmp/lsp.out" && fail "orvane-lsp ended with status 0 without shutdown"
grep -q '"serverInfo":{"name":"orvane-lsp"' "$tmp/lsp.out" || fail "installed orvane-lsp: $(cat "$tmp/lsp.out")"

# The installed debug adapter answers initialize with its capabilities and
# ends with status 1 when its input ends without a disconnect.
if [ -x "$usr/bin/orvane-dap" ]; then
  printf 'Content-Length: 49\r\n\r\n{"seq":1,"type":"request","command":"initialize"}' |
    "$usr/bin/orvane-dap" >"$tmp/dap.out" && fail "orvane-dap ended with status 0 without disconnect"
  grep -q '"supportsStepBack":true' "$tmp/dap.out" || fail "installed orvane-dap: $(cat "$tmp/dap.out")"
fi

# The Emacs file loads from the path its own header names, and decides a
# *.asm file by its content; the manual and the Kate file name paths that
# were installed.
el=$usr/share/orvane/editors/emacs/orvane-lsp.el
named=$(sed -n 's/^;; *(load "\(.*\)")$/\1/p' "$el")
[ "$named" = /usr/share/orvane/editors/emacs/orvane-lsp.el ] || fail "orvane-lsp.el names [$named]"
zcat "$usr/share/man/man1/orvane-lsp.1.gz" | grep -q '^.I .*/share/orvane/editors/$' || fail "man orvane-lsp names another folder"
grep -q '"url": "file:///usr/share/doc/orvane/README.md"' "$usr/share/orvane/editors/kate/lspclient-settings.json" ||
  fail "the Kate file links another README"
if command -v emacs >/dev/null; then
  mkdir "$tmp/el"
  printf '  LD A,(HL)\n' >"$tmp/el/z80.asm"; printf 'mov eax, 1\n' >"$tmp/el/x86.asm"; printf 'mov eax, 1\n' >"$tmp/el/any.z80"
  HOME=$tmp emacs --batch --eval "(progn (load \"$tmp/dest$named\")
    (dolist (f '(\"z80.asm\" \"x86.asm\" \"any.z80\"))
      (with-current-buffer (find-file-noselect (expand-file-name f \"$tmp/el\")) (princ (format \"%s %s\\n\" f major-mode))))
    (princ (format \"%S\\n\" (funcall (cdr (assq 'z80-asm-mode eglot-server-programs)) nil))))" >"$tmp/el.out" 2>"$tmp/el.err" ||
    fail "emacs could not load $named: $(tail -3 "$tmp/el.err")"
  diff <(printf '%s\n' 'z80.asm z80-asm-mode' 'x86.asm asm-mode' 'any.z80 z80-asm-mode' \
                       '("orvane-lsp" :initializationOptions (:format "hex" :warnings ["all"] :inlayHints t))') "$tmp/el.out" ||
    fail "orvane-lsp.el: modes or server differ (< wanted, > got)"
else
  fail "emacs is not installed (scripts/deps test installs emacs-nox and elpa-eglot)"
fi

# Manual pages render without a single groff warning, and whatis can read their NAME.
for p in "${pages[@]}"; do
  page=$usr/share/man/man1/$p.1.gz
  zcat "$page" | groff -ww -man -z 2>"$tmp/warn" && [ ! -s "$tmp/warn" ] || fail "$p.1: $(cat "$tmp/warn")"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" >"$tmp/page" 2>"$tmp/warn" && [ ! -s "$tmp/warn" ] &&
    grep -q '^NAME' "$tmp/page" && lexgrog "$page" | grep -q "\"$p - " || fail "man -l $p.1: $(cat "$tmp/warn")"
done

[ "$gui" = 1 ] || exit 0
for tool in desktop-file-validate update-mime-database mimetype file; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps test installs it)"
done
desktop-file-validate "$usr/share/applications/orvane.desktop" >"$tmp/warn" 2>&1 && [ ! -s "$tmp/warn" ] ||
  fail "desktop-file-validate: $(cat "$tmp/warn")"
update-mime-database "$usr/share/mime" && grep -qx '50:text/x-z80-asm:\*.z80' "$usr/share/mime/globs2" &&
  grep -qx 'MimeType=text/x-z80-asm;' "$usr/share/applications/orvane.desktop" ||
  fail "the entry's MIME type is not the one registered for *.z80"

# Each icon is a PNG of the size its folder names.
for size in 16 24 32; do
  file -b "$usr/share/icons/hicolor/${size}x$size/apps/orvane.png" | grep -q "PNG image data, $size x $size," ||
    fail "the ${size}x$size icon is $(file -b "$usr/share/icons/hicolor/${size}x$size/apps/orvane.png")"
done

# What a file manager makes of a file, through the installed MIME database and
# Debian's own: a .z80 file by its name, an .asm file by its content (only Z80
# source is claimed; an x86 source stays plain text).
mkdir "$tmp/mime"
mime=$(grep -v '^#' "$src/tests/install/mime.txt") || fail "no rows in mime.txt"
while IFS='|' read -r name want text; do
  printf '%b' "$text" >"$tmp/mime/$name"
  got=$(XDG_DATA_HOME="$tmp/none" XDG_DATA_DIRS="$usr/share:/usr/share" mimetype --brief "$tmp/mime/$name")
  [ "$got" = "$want" ] || fail "$name ($text) is $got, expected $want"
done <<<"$mime"
