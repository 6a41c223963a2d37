// Starts orvane-dap for the "orvane" debug type: the program named by the
// orvane.dapPath setting (default: orvane-dap on PATH), talking the Debug
// Adapter Protocol over its standard input and output.
'use strict';
const vscode = require('vscode');

function activate(context) {
  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('orvane', {
    createDebugAdapterDescriptor() {
      const program = vscode.workspace.getConfiguration('orvane').get('dapPath') || 'orvane-dap';
      return new vscode.DebugAdapterExecutable(program, []);
    },
  }));
}

function deactivate() {}

module.exports = { activate, deactivate };
