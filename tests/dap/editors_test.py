#!/usr/bin/env python3
# editors_test.py ORVANE_DAP EDITORS_DIR PROGRAM: each editor set-up file for
# orvane-dap, read as its editor reads it (Neovim runs its Lua with a stand-in
# for nvim-dap, which Debian does not have; VS Code's extension runs under node
# with a stand-in for the vscode module), must name orvane-dap as a stdio
# adapter, and its launch configuration, with the editor's placeholders filled
# in, must run PROGRAM to the end through the adapter (output "321", exit
# status 0). VS Code's configurations, the README's sample included, let a
# line typed in the debug console reach a program that reads.
import json
import os
import shutil
import subprocess
import sys
import tempfile
import tomllib

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import wire  # noqa: E402

dap, editors, source = sys.argv[1:4]
failures = []
# The program runs with its folder as drive A:, so it runs from a copy.
home = tempfile.mkdtemp()
program = os.path.join(home, "prog.z80")
shutil.copy(source, program)


def session(command, launch, typed=None):
    # Runs a whole session: initialize, launch, configurationDone; the
    # console output and the exit code. typed: a line typed in the debug
    # console (after '>') once the program has printed something.
    proc = subprocess.Popen([dap if command == "orvane-dap" else command], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE)
    seq = 0

    def send(cmd, args):
        nonlocal seq
        seq += 1
        proc.stdin.write(wire.frame({"seq": seq, "type": "request", "command": cmd, "arguments": args}))
        proc.stdin.flush()

    send("initialize", {"adapterID": "orvane"})
    send("launch", launch)
    send("configurationDone", {})
    output, code = "", None
    while True:
        m = wire.read(proc.stdout)
        if m["type"] == "response" and not m["success"]:
            raise RuntimeError(m["command"] + ": " + m["message"])
        if m.get("event") == "output" and m["body"]["category"] == "stdout":
            output += m["body"]["output"]
            if typed is not None:
                send("evaluate", {"expression": ">" + typed, "context": "repl"})
                typed = None
        if m.get("event") == "stopped":  # stopOnEntry
            send("continue", {"threadId": 1})
        if m.get("event") == "exited":
            code = m["body"]["exitCode"]
        if m.get("event") == "terminated":
            break
    send("disconnect", {})
    proc.stdin.close()
    proc.wait(timeout=60)
    return output, code


def check(editor, command, launch, typed=None, expected="321"):
    try:
        if command != "orvane-dap":
            raise RuntimeError("the adapter command is " + repr(command))
        output, code = session(command, launch, typed)
        if (output, code) != (expected, 0):
            raise RuntimeError(f"output {output!r}, exit code {code}")
        print(f"ok   {editor}")
    except Exception as e:  # noqa: BLE001 - every failure is reported
        failures.append(editor)
        print(f"FAIL {editor}: {e}")


def fill(value):
    # The placeholders the editors fill in a launch configuration.
    if isinstance(value, str):
        return (value.replace("${file}", program).replace("${fileDirname}", home).replace("${workdir}", home)
                .replace("{0}", program))
    if isinstance(value, dict):
        return {k: fill(v) for k, v in value.items()}
    if isinstance(value, list):
        return [fill(v) for v in value]
    return value

# A program that prints "?" and reads two keys, echoed: "?hi" when the line
# typed in the debug console reaches it.
reader = os.path.join(home, "reader.z80")
with open(reader, "w") as f:
    f.write("        LD E,63\n        LD C,2\n        CALL 5\n        LD C,1\n        CALL 5\n"
            "        LD C,1\n        CALL 5\n        RET\n")


def vscode_resolve(extension, config):
    # The launch configuration as VS Code hands it to the adapter: through
    # the extension's configuration provider (extension.js loaded with
    # vscode_stand_in for the vscode module), and the adapter's command.
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run(["node", os.path.join(here, "vscode_resolve.js"), os.path.abspath(extension), json.dumps(config)],
                         check=True, env=dict(os.environ, NODE_PATH=os.path.join(here, "vscode_stand_in")),
                         stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=120).stdout
    resolved = json.loads(out)
    return resolved["config"], resolved["command"]


# VS Code: the extension's debug type and its first launch configuration,
# as VS Code resolves it; the snippet too; typing into the debug console
# reaches a program that reads, with the configuration as the README prints it.
manifest = json.load(open(os.path.join(editors, "vscode/orvane-debug/package.json")))
debugger = manifest["contributes"]["debuggers"][0]
assert debugger["type"] == "orvane"
assert all("description" in a for a in debugger["configurationAttributes"]["launch"]["properties"].values())
extension = os.path.join(editors, "vscode/orvane-debug/extension.js")
launch, command = vscode_resolve(extension, dict(debugger["initialConfigurations"][0]))
assert os.path.basename(debugger["program"]) == command
check("vscode", command, fill(launch))
# The snippet's "^\"\\${file}\"" is VS Code's way of writing "${file}" in a snippet.
snippet = dict(debugger["configurationSnippets"][0]["body"])
assert "${file}" in snippet["program"]
snippet["program"] = "${file}"
snippet, command = vscode_resolve(extension, snippet)
check("vscode snippet", command, fill(snippet))
readme = open(os.path.join(os.path.dirname(editors.rstrip("/")), "..", "README.md")).read()
sample = json.loads(readme.split("```json\n", 1)[1].split("```", 1)[0])
for name, config in (("sample", dict(debugger["initialConfigurations"][0])), ("README sample", sample)):
    config, command = vscode_resolve(extension, config)
    if config.get("waitForInput") is not True:  # else the program reads the end of input at once
        failures.append("vscode " + name)
        print(f"FAIL vscode {name}: waitForInput is {config.get('waitForInput')!r}")
    config = fill(config)
    config["program"] = reader
    check("vscode " + name + ": typing in the debug console", command, config, typed="hi", expected="?hi")

# Helix: the z80 language's debugger and its template, with the source given.
helix = tomllib.load(open(os.path.join(editors, "helix/languages.toml"), "rb"))
z80 = next(lang for lang in helix["language"] if lang["name"] == "z80")
assert z80["debugger"]["transport"] == "stdio"
check("helix", z80["debugger"]["command"], fill(z80["debugger"]["templates"][0]["args"]))

# Kate: the adapter's run command and its launch request ("command" is the
# request's name; "${args|list}" is an empty list here).
kate = json.load(open(os.path.join(editors, "kate/debugger.json")))["dap"]["orvane"]
request = dict(next(iter(kate["configurations"].values()))["request"])
assert request.pop("command") == "launch"
request["args"] = []
check("kate", kate["run"]["command"][0], fill(request))

# Neovim: the Lua file with a stand-in for nvim-dap 0.6.0 (the release
# Neovim 0.7.2 runs) that follows its documented API; each key of a Z80
# buffer calls the documented function.
tmp = tempfile.mkdtemp()
try:
    out = os.path.join(tmp, "dap.json")
    here = os.path.dirname(os.path.abspath(__file__))
    copy = os.path.join(tmp, "keys.z80")
    shutil.copy(program, copy)
    subprocess.run(["nvim", "--headless", "-u", "NONE", "-i", "NONE", "-n", "-c",
                    "luafile " + os.path.join(here, "nvim_dap_test.lua")],
                   env=dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp, XDG_DATA_HOME=tmp, XDG_STATE_HOME=tmp,
                            TEST_SCRIPT=os.path.join(here, "nvim_dap_test.lua"), ORVANE_EDITORS=editors,
                            SOURCE=copy, OUT=out),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    nv = json.load(open(out))
    wanted = ["<F5> continue", "<F10> step_over", "<F11> step_into", "<S-F11> step_out", "<S-F10> step_back",
              "<S-F5> reverse_continue", "<F6> pause", "<F9> toggle_breakpoint", "\\B set_breakpoint(B == 1)",
              "\\dr repl.open"]
    if nv.get("error") or nv.get("filetype") != "z80" or nv.get("keys") != wanted:
        failures.append("neovim keys")
        print(f"FAIL neovim keys: {nv.get('error')}, filetype {nv.get('filetype')}, keys {nv.get('keys')}")
    else:
        print("ok   neovim keys: " + ", ".join(nv["keys"]))
    assert nv["adapter"]["type"] == "executable" and nv["config"]["type"] == "orvane"
    check("neovim nvim-dap", nv["adapter"]["command"], fill(nv["config"]))
    config = fill(nv["config"])
    config["program"] = reader
    check("neovim nvim-dap: typing in the REPL", nv["adapter"]["command"], config, typed="hi", expected="?hi")
finally:
    shutil.rmtree(tmp)
    shutil.rmtree(home)

sys.exit(1 if failures else 0)
