;;; emacs_test.el --- drives orvane-dap through Emacs dap-mode in batch  -*- lexical-binding: t -*-
;; Loads the set-up files Orvane installs (the language server's first, as a
;; user with both may), sets a breakpoint in a buffer, starts a session,
;; reads a register as dap-mode's locals view does, steps, steps back,
;; continues, reverse-continues, stops on a data breakpoint and runs to the
;; end, and writes what it saw to EDITOR_TEST_OUT: with the marks a terminal
;; Emacs (as this batch one: no fringe) shows in the margin, and the keys.

(require 'package)
(add-to-list 'package-directory-list "/usr/share/emacs/site-lisp/elpa")
(package-initialize)
(setq dap-auto-configure-features nil
      dap-auto-show-output nil
      lsp-session-file (expand-file-name "lsp-session" (getenv "HOME"))
      dap-breakpoints-file (expand-file-name "dap-breakpoints" (getenv "HOME")))
(load (expand-file-name "emacs/orvane-lsp.el" (getenv "ORVANE_EDITORS")))
(load (expand-file-name "emacs/orvane-dap.el" (getenv "ORVANE_EDITORS")))
(dap-ui-mode 1)  ; the breakpoint and current-line marks
(setq orvane-dap-program (getenv "ORVANE_DAP"))

(defvar report nil)
(defun say (fmt &rest args) (push (apply #'format fmt args) report))
(defun finish (status)
  (with-temp-file (getenv "EDITOR_TEST_OUT")
    (insert (mapconcat #'identity (reverse report) "\n") "\n"))
  (kill-emacs status))

(defun wait-for (what pred)
  "Waits up to a long bound for PRED, taking process output meanwhile."
  (let ((until (+ (float-time) 120)))
    (while (and (not (funcall pred)) (< (float-time) until))
      (accept-process-output nil 0.05))
    (unless (funcall pred)
      (say "timed out waiting for %s" what)
      (finish 1))))

;; Every event the session gets, as dap-mode receives it.
(defvar events nil)
(defvar stdout "")
(advice-add 'dap--on-event :before
            (lambda (_session event)
              (let* ((type (gethash "event" event))
                     (body (gethash "body" event)))
                (pcase type
                  ("output" (when (equal (gethash "category" body) "stdout")
                              (setq stdout (concat stdout (gethash "output" body)))))
                  ("stopped" (push (format "stopped: %s" (gethash "reason" body)) events))
                  ("exited" (push (format "exited: %s" (gethash "exitCode" body)) events))
                  (_ (push type events))))))

(defun stops () (seq-count (lambda (e) (string-prefix-p "stopped" e)) events))

(defun margin ()
  "The marks in the left margin of the source's buffer, as LINE MARK."
  (with-current-buffer (get-file-buffer (getenv "EDITOR_TEST_FILE"))
    (let (marks)
      (dolist (ov (overlays-in (point-min) (point-max)))
        (let* ((before (overlay-get ov 'before-string))
               (display (and before (get-text-property 0 'display before))))
          (when (equal (car-safe display) '(margin left-margin))
            (push (format "%d %s" (line-number-at-pos (overlay-start ov)) (cadr display)) marks))))
      (format "%s (width %d)" (mapconcat #'identity (sort marks #'string<) ", ") left-margin-width))))

(defun stopped-at (session what count)
  "Waits for stop COUNT and its frame; reports WHAT with the reason and line."
  (wait-for what (lambda () (>= (stops) count)))
  (wait-for "the stack frame" (lambda () (dap--debug-session-active-frame session)))
  (let ((frame (dap--debug-session-active-frame session)))
    (say "%s at line %d: %s, B = %s" (car events) (gethash "line" frame) (gethash "name" frame)
         (gethash "result" (dap-request session "evaluate" :expression "B" :context "watch")))))

(condition-case err
    (let* ((file (getenv "EDITOR_TEST_FILE"))
           (buffer (find-file-noselect file)))
      (with-current-buffer buffer
        (goto-char (point-min))
        (forward-line 11)           ; line 12: LD E,B in SHOW
        (dap-breakpoint-add)
        (say "buffer %s in %s, breakpoint on line %d" (file-name-nondirectory file) major-mode
             (line-number-at-pos))
        (dolist (key '("S-<f10>" "S-<f5>" "<f6>" "C-c C-d b" "C-c C-d r" "C-c C-d p" "C-c C-d w"))
          (say "  %s: %s" key (key-binding (kbd key))))
        (dap-debug (list :type "orvane" :request "launch" :name "Orvane Z80" :program file)))
      (let ((session (dap--cur-session)))
        (say "session %s" (dap--debug-session-name session))
        (wait-for "the breakpoint" (lambda () (>= (stops) 1)))
        (wait-for "the stack frame" (lambda () (dap--debug-session-active-frame session)))
        (let* ((frame (dap--debug-session-active-frame session))
               (scopes (gethash "scopes" (dap-request session "scopes" :frameId (gethash "id" frame))))
               (registers (seq-find (lambda (s) (equal (gethash "name" s) "Registers")) scopes))
               (vars (gethash "variables" (dap-request session "variables"
                                                       :variablesReference (gethash "variablesReference" registers)))))
          (say "%s at line %d: %s" (car events) (gethash "line" frame) (gethash "name" frame))
          (say "scopes: %s" (mapconcat (lambda (s) (gethash "name" s)) scopes ", "))
          (dolist (v (append vars nil))
            (when (member (gethash "name" v) '("B" "PC" "SP" "HL" "ZF" "T-states"))
              (say "  %s = %s" (gethash "name" v) (gethash "value" v)))))
        (say "evaluate (SP): %s" (gethash "result" (dap-request session "evaluate" :expression "(SP)" :context "repl")))
        (say "margin: %s" (margin))
        (dap-next session)
        (stopped-at session "the step" 2)
        (say "margin: %s" (margin))
        (orvane-dap-step-back session)
        (stopped-at session "the step back" 3)
        (dap-continue session (dap--debug-session-thread-id session))
        (stopped-at session "the breakpoint again" 4)
        (orvane-dap-reverse-continue session)
        (stopped-at session "the reverse continue" 5)
        (with-current-buffer (get-file-buffer (getenv "EDITOR_TEST_FILE"))
          (dap-breakpoint-delete-all))
        (say "%s" (orvane-dap-data-breakpoint session "CNT"))  ; what it says in the echo area
        (dap-continue session (dap--debug-session-thread-id session))
        (stopped-at session "the data breakpoint" 6)
        (dap-continue session (dap--debug-session-thread-id session))
        (wait-for "the end" (lambda () (member "terminated" events)))
        (say "output: %S" stdout)
        (say "events: %s" (mapconcat #'identity (reverse events) ", "))
        ;; dap-mode ends the session itself on the exited event.
        (finish 0)))
  (error (say "error: %S" err) (finish 1)))
