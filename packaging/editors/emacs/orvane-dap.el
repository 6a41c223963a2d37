;;; orvane-dap.el --- debug Z80 CP/M programs with orvane-dap through dap-mode  -*- lexical-binding: t -*-

;; Load this file from your init file, e.g.
;;   (load "@ORVANE_EDITORS_DIR@/emacs/orvane-dap.el")
;; (Debian: apt install elpa-dap-mode).  Then, in a *.z80 buffer, set
;; breakpoints with M-x dap-breakpoint-toggle and start with M-x dap-debug,
;; choosing "Orvane Z80 (CP/M)".  The launch arguments are orvane-dap's:
;; :program (default: the current buffer's file), :args, :cwd, :stopOnEntry,
;; :input and :maxTstates.  In the debug REPL (M-x dap-ui-repl), a line
;; starting with ">" is typed to the program; any other line is evaluated.

(require 'dap-mode)

(defgroup orvane-dap nil
  "Debugging Z80 CP/M programs with orvane-dap."
  :group 'dap-mode)

(defcustom orvane-dap-program "orvane-dap"
  "The orvane-dap program: a name looked up on `exec-path', or a full path."
  :type 'string
  :group 'orvane-dap)

(defun orvane-dap--populate-start-file-args (conf)
  "Complete the launch configuration CONF for orvane-dap."
  (dap--put-if-absent conf :dap-server-path (list orvane-dap-program))
  (dap--put-if-absent conf :program (buffer-file-name))
  (dap--put-if-absent conf :name "Orvane Z80")
  conf)

(dap-register-debug-provider "orvane" #'orvane-dap--populate-start-file-args)

(dap-register-debug-template "Orvane Z80 (CP/M)"
                             (list :type "orvane"
                                   :request "launch"
                                   :name "Orvane Z80"
                                   :stopOnEntry :json-false))

(add-to-list 'auto-mode-alist '("\\.z80\\'" . asm-mode))

(provide 'orvane-dap)
;;; orvane-dap.el ends here
