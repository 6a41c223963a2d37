// Starts orvane-dap for the "orvane" debug type: the program named by the
// orvane.dapPath setting (default: orvane-dap on PATH), talking the Debug
// Adapter Protocol over its standard input and output.
'use strict';
const vscode = require('vscode');

// A launch without an input file waits at the end of the input for lines
// typed in the debug console: it is the program's only keyboard, and a
// program that reads would otherwise get the end of input at once. With an
// input file the run ends at its end, as orvane-run < FILE does.
function withDefaults(config) {
  // F5 without a launch.json gives an empty one: VS Code then offers the
  // starting launch.json.
  if (!config.type && !config.request && !config.name) return config;
  if (config.waitForInput === undefined && config.input === undefined) config.waitForInput = true;
  return config;
}

function activate(context) {
  context.subscriptions.push(vscode.debug.registerDebugConfigurationProvider('orvane', {
    resolveDebugConfiguration(folder, config) {
      return withDefaults(config);
    },
  }));
  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('orvane', {
    createDebugAdapterDescriptor() {
      const program = vscode.workspace.getConfiguration('orvane').get('dapPath') || 'orvane-dap';
      return new vscode.DebugAdapterExecutable(program, []);
    },
  }));
}

function deactivate() {}

module.exports = { activate, deactivate, withDefaults };
