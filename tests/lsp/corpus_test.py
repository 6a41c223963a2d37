#!/usr/bin/env python3
# Checks orvane-lsp against orvane-asm on every program of the corpus.
#
#   corpus_test.py ORVANE_ASM ORVANE_LSP GEN FILE...
#
# For each program and both object formats:
# - diagnostics: what the server publishes must be what orvane-asm prints:
#   the same lines, columns and underlined stretch (read from its caret line),
#   severity, message, warning name and note;
# - formatting: the server's edits change only blanks, formatting again
#   changes nothing, and orvane-asm makes the same object file, the same
#   listing and the same messages (columns aside) from the text before and
#   after.
# GEN (the benchmark's program generator, or - without it) adds a generated program of 3000 lines, and a
# program of 150 faulty lines has more messages than orvane-asm shows by default.
import os
import pathlib
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wire import frame, messages  # noqa: E402

asm, lsp, gen = (p if p == "-" else os.path.abspath(p) for p in sys.argv[1:4])
files = sys.argv[4:]
failures = []
checked = 0
compared = 0
FORMAT = {"jsonrpc": "2.0", "id": 1, "method": "textDocument/formatting",
          "params": {"textDocument": {"uri": "file:///p.z80"}, "options": {"tabSize": 8, "insertSpaces": True}}}


def server_session(text, fmt, requests):
    # Opens `text`, sends `requests`, and returns (diagnostics, answers by id).
    msgs = [
        {"jsonrpc": "2.0", "id": 0, "method": "initialize",
         "params": {"capabilities": {"textDocument": {"publishDiagnostics": {"relatedInformation": True}}},
                    "initializationOptions": {"format": fmt}}},
        {"jsonrpc": "2.0", "method": "initialized", "params": {}},
        {"jsonrpc": "2.0", "method": "textDocument/didOpen",
         "params": {"textDocument": {"uri": "file:///p.z80", "languageId": "z80", "version": 1, "text": text}}},
    ] + requests + [{"jsonrpc": "2.0", "id": "end", "method": "shutdown"}, {"jsonrpc": "2.0", "method": "exit"}]
    out = subprocess.run([lsp], input=b"".join(frame(m) for m in msgs), capture_output=True, timeout=300).stdout
    diagnostics, answers = None, {}
    for m in messages(out):
        if m.get("method") == "textDocument/publishDiagnostics":
            diagnostics = m["params"]["diagnostics"]
        elif "id" in m:
            answers[m["id"]] = m
    return diagnostics, answers


def utf16(line, byte_col):
    return len(line.encode("utf-8", "surrogateescape")[:byte_col].decode("utf-8", "replace").encode("utf-16-le")) // 2


def assemble(fmt, source, listing, obj, cwd=None):
    return subprocess.run([asm, "--" + fmt, "--color=never", "--max-errors=0", "-l", listing, "-o", obj, source],
                          capture_output=True, cwd=cwd)


head = re.compile(r"^.*?:(\d+):(?:(\d+):)? (error|warning|note): (.*)$")


def expected_diagnostics(path, fmt, source_lines, workdir):
    # orvane-asm's messages as the diagnostics they must become.
    out = assemble(fmt, path, os.path.join(workdir, "x.LST"), os.path.join(workdir, "x.obj"))
    out = out.stderr.decode("utf-8", "surrogateescape").split("\n")
    result = []
    i = 0
    while i < len(out):
        m = head.match(out[i])
        if not m or m.group(3) == "note" or out[i].startswith("orvane-asm:"):
            i += 1
            continue
        line, col, kind, text = int(m.group(1)) - 1, int(m.group(2) or 0), m.group(3), m.group(4)
        code = None
        if kind == "warning":
            text, code = re.match(r"^(.*) \[-W([a-z-]+)\]$", text).groups()
        src = source_lines[line]
        i += 2  # the quoted line
        if col > 0:
            caret = out[i].split(" | ", 1)[1] if i < len(out) and " | " in out[i] else ""
            at = caret.find("^")
            if at >= 0:
                width = len(caret) - at
                i += 1
            else:
                width = 0
            start, end = utf16(src, col - 1), utf16(src, col - 1 + width)
        else:
            stripped = src.strip(" \t")
            b = len(src) - len(src.lstrip(" \t"))
            start, end = utf16(src, b), utf16(src, b + len(stripped.encode("utf-8", "surrogateescape")))
        note = None
        if i < len(out):
            n = head.match(out[i])
            if n and n.group(3) == "note":
                note = n.group(4)
                i += 1
        result.append({"line": line, "start": start, "end": end, "severity": 1 if kind == "error" else 2,
                       "message": text, "code": code, "note": note})
    return result


def from_server(diags):
    result = []
    for d in diags:
        r = d["range"]
        note = d["relatedInformation"][0]["message"] if "relatedInformation" in d else None
        # The note is the message's second line as well.
        message, _, second = d["message"].partition("\n")
        if (second or None) != note:
            sys.exit(f"corpus: the message's second line {second!r} is not the note {note!r}")
        result.append({"line": r["start"]["line"], "start": r["start"]["character"], "end": r["end"]["character"],
                       "severity": d["severity"], "message": message, "code": d.get("code"), "note": note})
    return result


def apply_edits(text, edits):
    lines = text.split("\n")
    for e in sorted(edits, key=lambda e: -e["range"]["start"]["line"]):
        r = e["range"]
        assert r["start"]["line"] == r["end"]["line"] and r["start"]["character"] == 0
        lines[r["start"]["line"]] = e["newText"]
    return "\n".join(lines)


def same_listing_and_object(before, after, fmt, workdir):
    outs = []
    for name, text in (("a", before), ("b", after)):
        d = os.path.join(workdir, name)
        os.makedirs(d, exist_ok=True)
        pathlib.Path(d, "p.z80").write_text(text, encoding="utf-8", errors="surrogateescape")
        r = assemble(fmt, "p.z80", "p.LST", "p.obj", cwd=d)
        listing, obj = (pathlib.Path(d, name).read_bytes() for name in ("p.LST", "p.obj"))
        # Messages without their columns and quoted lines, which move.
        msgs = [re.sub(r"^(p\.z80:\d+:)\d+:", r"\1", l) for l in r.stderr.decode("utf-8", "replace").split("\n")
                if re.match(r"^p\.z80:\d+", l) or l.startswith("orvane-asm:")]
        outs.append((listing, obj, msgs, r.returncode))
    return outs[0] == outs[1]


def check(path, text, fmt, workdir):
    global checked, compared
    checked += 1
    source_lines = text.split("\n")
    src = os.path.join(workdir, "p.z80")
    pathlib.Path(src).write_text(text, encoding="utf-8", errors="surrogateescape")
    diags, answers = server_session(text, fmt, [FORMAT])
    want = expected_diagnostics(src, fmt, source_lines, workdir)
    compared += len(want)
    got = from_server(diags or [])
    if want != got:
        for w, g in zip(want + [None] * len(got), got + [None] * len(want)):
            if w != g:
                failures.append(f"{path} --{fmt}: diagnostics differ\n  orvane-asm {w}\n  orvane-lsp {g}")
                break
    edits = answers[1]["result"]
    formatted = apply_edits(text, edits)
    if re.sub(r"[ \t]", "", formatted) != re.sub(r"[ \t]", "", text):
        failures.append(f"{path} --{fmt}: formatting changed more than blanks")
    if not same_listing_and_object(text, formatted, fmt, workdir):
        failures.append(f"{path} --{fmt}: the formatted program assembles differently")
    _, again = server_session(formatted, fmt, [FORMAT])
    if again[1]["result"]:
        failures.append(f"{path} --{fmt}: formatting twice changes {len(again[1]['result'])} more lines")
    # Typing in comments (which the server answers without assembling again),
    # and taking a comment's ';' away (which it must assemble again), must leave
    # exactly the diagnostics a fresh look at the new text gives.
    changes, typed = [], source_lines[:]
    for n, line in enumerate(source_lines):
        at = line.find(";")
        if at <= 0 or len(changes) >= 40:
            continue
        col = utf16(line, len(line[:at + 1].encode("utf-8", "surrogateescape")))
        if len(changes) % 2 == 0:
            changes.append({"range": {"start": {"line": n, "character": col}, "end": {"line": n, "character": col}},
                            "text": "q;"})
            typed[n] = line[:at + 1] + "q;" + line[at + 1:]
        else:
            # A ';' taken away: the rest of the line is no comment any more.
            changes.append({"range": {"start": {"line": n, "character": col - 1}, "end": {"line": n, "character": col}},
                            "text": " "})
            typed[n] = line[:at] + " " + line[at + 1:]
    if changes:
        edit = {"jsonrpc": "2.0", "method": "textDocument/didChange",
                "params": {"textDocument": {"uri": "file:///p.z80", "version": 2}, "contentChanges": changes}}
        ask = {"jsonrpc": "2.0", "id": 2, "method": "textDocument/documentSymbol",
               "params": {"textDocument": {"uri": "file:///p.z80"}}}
        after, _ = server_session(text, fmt, [edit, ask])
        fresh, _ = server_session("\n".join(typed), fmt, [])
        if after != fresh:
            failures.append(f"{path} --{fmt}: typing in comments left other diagnostics than a fresh assembly")
    return len(edits)


with tempfile.TemporaryDirectory() as work:
    programs = []
    for path in files:
        with open(path, "rb") as f:
            raw = f.read()
        # The protocol's text is UTF-8 with LF line ends here.
        text = raw.replace(b"\r\n", b"\n").replace(b"\r", b"\n").decode("utf-8", "replace")
        programs.append((os.path.basename(path), text))
    if gen != "-":
        generated = subprocess.run([gen, "3000", "7"], capture_output=True, check=True).stdout.decode()
        programs.append(("generated-3000", generated))
    # More messages than orvane-asm shows by default: the server gives them all.
    bad = ["        LD Q,1", "        CALL NOWHERE", "        LD B,-1", "        JR $+300", "        DS 'x",
           "        BIT 9,A", "HERE:   NOP", "HERE:   NOP ; again", "        IM 3", "        LD A,B,C"]
    programs.append(("many-messages", "\n".join(bad[i % len(bad)] for i in range(150)) + "\n"))
    edited = 0
    for name, text in programs:
        for fmt in ("hex", "cpm"):
            edited += check(name, text, fmt, work)

for f in failures:
    print(f)
print(f"corpus: {checked} runs over {len(programs)} programs, {compared} messages compared, {edited} lines formatted, "
      f"{len(failures)} failures")
sys.exit(1 if failures else 0)
