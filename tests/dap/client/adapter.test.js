// orvane-dap driven by VS Code's own test client (DebugClient from
// @vscode/debugadapter-testsupport). Expected registers, T-states, output
// and exit statuses come from orvane-asm --run (--trace prints the registers
// and the T-states before every instruction), never from the adapter.
'use strict';
const assert = require('assert');
const cp = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const ADAPTER = process.env.ORVANE_DAP;
const ASM = process.env.ORVANE_ASM;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-dap-client-'));

// The program the tests debug; line numbers below are its lines.
const PROGRAM = fs.readFileSync(path.join(__dirname, '..', 'prog.z80'), 'latin1');
const FAULT = [' ORG 256', 'S: LD A,5', ' LD C,99', ' CALL 5', ' RET', ' END S', ''].join('\n');

function write(name, text) {
  const p = path.join(dir, name);
  fs.writeFileSync(p, text);
  return p;
}
const prog = write('prog.z80', PROGRAM);
const fault = write('fault.z80', FAULT);

// orvane-asm --run on a copy (it writes its listing and object beside the
// source): the exit status, the console output and the trace's lines.
function reference(source) {
  const sub = fs.mkdtempSync(path.join(dir, 'ref-'));
  const copy = path.join(sub, path.basename(source));
  fs.copyFileSync(source, copy);
  const trace = path.join(sub, 'trace.txt');
  const r = cp.spawnSync(ASM, ['--run', '--strict', '--trace', trace, copy], { cwd: sub, input: '' });
  const steps = [];
  for (const line of fs.readFileSync(trace, 'latin1').split('\n')) {
    const m = /^\s*(\d+)\s+([0-9A-F]{4})\s.*AF=([0-9A-F]{4}) BC=([0-9A-F]{4}) DE=([0-9A-F]{4}) HL=([0-9A-F]{4}) IX=([0-9A-F]{4}) IY=([0-9A-F]{4}) SP=([0-9A-F]{4})/.exec(line);
    if (m) steps.push({ t: m[1], PC: m[2], AF: m[3], BC: m[4], DE: m[5], HL: m[6], IX: m[7], IY: m[8], SP: m[9] });
  }
  return { status: r.status, stdout: r.stdout.toString('latin1'), steps };
}
const ref = reference(prog);
const refFault = reference(fault);

function word(hex) { return `${hex}H (${parseInt(hex, 16)})`; }

describe('orvane-dap with DebugClient', function () {
  this.timeout(60000);
  let dc;
  beforeEach(() => {
    dc = new DebugClient('/usr/bin/env', ADAPTER, 'orvane');
    dc.defaultTimeout = 30000;
    return dc.start();
  });
  afterEach(() => dc.stop());

  async function registers() {
    const st = await dc.stackTraceRequest({ threadId: 1 });
    const sc = await dc.scopesRequest({ frameId: st.body.stackFrames[0].id });
    const regs = sc.body.scopes.find(s => s.name === 'Registers');
    const vars = await dc.variablesRequest({ variablesReference: regs.variablesReference });
    const map = {};
    for (const v of vars.body.variables) map[v.name] = v.value;
    return map;
  }
  function assertRegistersOf(map, step) {
    for (const r of ['AF', 'BC', 'DE', 'HL', 'IX', 'IY', 'SP', 'PC']) assert.strictEqual(map[r], word(step[r]), r);
    assert.strictEqual(map['T-states'], step.t, 'T-states');
  }
  async function evaluate(expression, context = 'watch') {
    return (await dc.evaluateRequest({ expression, context })).body.result;
  }
  // A launch stopped at `line`: on entry, or at one of `breakpoints` set first.
  function launchTo(line, breakpoints) {
    const configure = !breakpoints ? dc.configurationSequence() : dc.waitForEvent('initialized')
      .then(() => dc.setBreakpointsRequest({ source: { path: prog }, breakpoints }))
      .then(() => dc.configurationDoneRequest());
    return Promise.all([
      configure,
      dc.launch({ program: prog, stopOnEntry: !breakpoints }),
      dc.assertStoppedLocation(breakpoints ? 'breakpoint' : 'entry', { path: prog, line }),
    ]);
  }
  // A request that runs the program on, and where it must stop.
  function runTo(request, line, reason = 'step') {
    return Promise.all([dc[`${request}Request`]({ threadId: 1 }), dc.assertStoppedLocation(reason, { line })]);
  }

  it('answers initialize with the capabilities', async () => {
    const r = await dc.initializeRequest();
    for (const c of ['supportsConfigurationDoneRequest', 'supportsConditionalBreakpoints', 'supportsHitConditionalBreakpoints',
      'supportsStepBack', 'supportsDataBreakpoints', 'supportsDisassembleRequest', 'supportsReadMemoryRequest',
      'supportsWriteMemoryRequest', 'supportsSetVariable', 'supportsEvaluateForHovers', 'supportsInstructionBreakpoints',
      'supportsTerminateRequest']) assert.strictEqual(r.body[c], true, c);
  });

  it('runs to the end: output byte for byte and the exit status of orvane-asm --run', async () => {
    assert.strictEqual(ref.stdout, '321');
    await Promise.all([
      dc.configurationSequence(),
      dc.launch({ program: prog }),
      dc.assertOutput('stdout', ref.stdout),
      dc.waitForEvent('exited').then(e => assert.strictEqual(e.body.exitCode, ref.status)),
      dc.waitForEvent('terminated'),
    ]);
  });

  it('stops on entry at the first statement', async () => {
    await launchTo(4);
    assertRegistersOf(await registers(), ref.steps[0]);
  });

  it('hits a breakpoint, with the registers and T-states of the trace', async () => {
    await dc.hitBreakpoint({ program: prog }, { path: prog, line: 12 });
    const first = ref.steps.find(s => s.PC === '010F');  // LD E,B
    assertRegistersOf(await registers(), first);
  });

  it('moves a breakpoint on a line without code to the next line with code', async () => {
    await dc.hitBreakpoint({ program: prog }, { path: prog, line: 3 }, { path: prog, line: 4 }, { path: prog, line: 4 });
  });

  it('stops on a condition and on a hit count', async () => {
    await launchTo(12, [{ line: 12, condition: 'B == 1' }]);
    assert.strictEqual(await evaluate('B'), '01H (1)');
    assert.strictEqual(await evaluate('CNT'), '011BH (283)');
    await dc.setBreakpointsRequest({ source: { path: prog }, breakpoints: [{ line: 6, hitCondition: '1' }] });
    await runTo('continue', 6, 'breakpoint');
  });

  it('stops on the Nth arrival with a hit count', async () => {
    await launchTo(5, [{ line: 5, hitCondition: '2' }]);
    assert.strictEqual(await evaluate('B'), '02H (2)');
  });

  it('steps over, into and out of a CALL', async () => {
    await dc.hitBreakpoint({ program: prog }, { path: prog, line: 5 });
    await runTo('next', 6);
    assert.strictEqual(await evaluate('B'), '03H (3)');
    await runTo('next', 5);
    await runTo('stepIn', 11);
    const st = await dc.stackTraceRequest({ threadId: 1 });
    assert.deepStrictEqual(st.body.stackFrames.map(f => f.line), [11, 5]);
    await runTo('stepIn', 12);
    await runTo('stepOut', 6);
  });

  it('steps back to the registers and T-states the trace had', async () => {
    await dc.hitBreakpoint({ program: prog }, { path: prog, line: 12 });
    await runTo('stepBack', 11);
    assertRegistersOf(await registers(), ref.steps.find(s => s.PC === '010E'));  // PUSH BC
    await runTo('stepBack', 5);
    assertRegistersOf(await registers(), ref.steps.find(s => s.PC === '0102'));  // CALL SHOW
  });

  it('evaluates registers, symbols and bytes, and sets a register', async () => {
    await dc.hitBreakpoint({ program: prog }, { path: prog, line: 12 });
    assert.strictEqual(await evaluate('SHOW', 'hover'), '010EH (270)');
    assert.strictEqual(await evaluate('(START)', 'repl'), '06H (6)');  // LD B,n
    assert.strictEqual(await evaluate('(&H0101)'), '03H (3)');
    const set = await dc.setVariableRequest({ variablesReference: 1, name: 'HL', value: '512' });
    assert.strictEqual(set.body.value, '0200H (512)');
    assert.strictEqual(await evaluate('HL'), '0200H (512)');
    // The flags follow the registers under names no register has.
    const regs = await registers();
    const af = parseInt(regs.AF, 16), bc = parseInt(regs.BC, 16), hl = parseInt(regs.HL, 16);
    const bits = { SF: 7, ZF: 6, HF: 4, PVF: 2, NF: 1, CF: 0 };
    for (const [f, bit] of Object.entries(bits)) assert.strictEqual(regs[f], String((af >> bit) & 1), f);
    const byte = v => word(v.toString(16).toUpperCase().padStart(2, '0'));
    assert.strictEqual(regs.C, byte(bc & 0xFF), 'C');
    assert.strictEqual(regs.H, byte(hl >> 8), 'H');
  });

  it('stops right after a write with a data breakpoint, and reverse continue finds it again', async () => {
    await launchTo(4);
    const info = await dc.dataBreakpointInfoRequest({ name: 'CNT', variablesReference: 2 });
    assert.ok(info.body.dataId);
    const set = await dc.setDataBreakpointsRequest({ breakpoints: [{ dataId: info.body.dataId, accessType: 'write' }] });
    assert.strictEqual(set.body.breakpoints[0].verified, true);
    await runTo('continue', 9, 'data breakpoint');
    assert.strictEqual(await evaluate('(CNT)'), '07H (7)');
    await runTo('stepBack', 8);
    assert.strictEqual(await evaluate('(CNT)'), '00H (0)');
    await runTo('reverseContinue', 4);
  });

  it('stops at a runtime fault as an exception, and ends with orvane-asm --run\'s status', async () => {
    assert.strictEqual(refFault.status, 3);
    const stopped = dc.waitForEvent('stopped');
    await Promise.all([dc.configurationSequence(), dc.launch({ program: fault })]);
    const e = await stopped;
    assert.strictEqual(e.body.reason, 'exception');
    assert.match(e.body.text, /unknown BDOS function 99/);
    const st = await dc.stackTraceRequest({ threadId: 1 });
    assert.strictEqual(st.body.stackFrames[0].line, 4);
    await Promise.all([
      dc.continueRequest({ threadId: 1 }),
      dc.waitForEvent('exited').then(ev => assert.strictEqual(ev.body.exitCode, refFault.status)),
      dc.waitForEvent('terminated'),
    ]);
  });

  it('refuses a source with errors, quoting them', async () => {
    const bad = write('bad.z80', ' ORG 256\nX: LD Q,5\n END X\n');
    await dc.initializeRequest();
    await assert.rejects(dc.launchRequest({ program: bad }), /Bad Destination Operand/);
  });
});
