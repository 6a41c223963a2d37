;;; orvane-dap.el --- debug Z80 CP/M programs with orvane-dap through dap-mode  -*- lexical-binding: t -*-

;; Load this file from your init file, e.g.
;;   (load "@ORVANE_EDITORS_DIR@/emacs/orvane-dap.el")
;; (Debian: apt install elpa-dap-mode).  Then, in a *.z80 buffer, set
;; breakpoints with M-x dap-breakpoint-toggle and start with M-x dap-debug,
;; choosing "Orvane Z80 (CP/M)".  The launch arguments are orvane-dap's:
;; :program (default: the current buffer's file), :args, :cwd, :stopOnEntry,
;; :input, :waitForInput and :maxTstates.  In the debug REPL (M-x
;; dap-ui-repl), a line starting with ">" is typed to the program; any other
;; line is evaluated.
;;
;; Z80 sources get the major mode of orvane-lsp.el (beside this file),
;; z80-asm-mode, so the two set-ups can be loaded together in either order.
;; dap-mode has no commands for what orvane-dap adds; in a Z80 buffer:
;;   S-<f10>  or C-c C-d b   orvane-dap-step-back
;;   S-<f5>   or C-c C-d r   orvane-dap-reverse-continue
;;   <f6>     or C-c C-d p   orvane-dap-pause (dap-mode's: M-x dap-stop-thread)
;;              C-c C-d w   orvane-dap-data-breakpoint: stop right after an
;;                          instruction writes a symbol's byte (again: no more)
;; In a terminal, where there is no fringe, breakpoints ("B") and the current
;; line (">") are marked in the left margin.

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
  ;; Without an input file the REPL is the program's keyboard: a program that
  ;; reads waits for a line typed there instead of reading the end of input.
  (unless (or (plist-member conf :waitForInput) (plist-member conf :input))
    (setq conf (plist-put conf :waitForInput t)))
  conf)

(dap-register-debug-provider "orvane" #'orvane-dap--populate-start-file-args)

(dap-register-debug-template "Orvane Z80 (CP/M)"
                             (list :type "orvane"
                                   :request "launch"
                                   :name "Orvane Z80"
                                   :stopOnEntry :json-false))

(let ((lsp (expand-file-name "orvane-lsp.el" (file-name-directory (or load-file-name buffer-file-name "")))))
  (unless (fboundp 'z80-asm-mode)
    (if (file-readable-p lsp)
        (load lsp nil t)
      ;; Installed without it: the same mode, without the language server.
      (require 'asm-mode)
      (define-derived-mode z80-asm-mode asm-mode "Z80"
        "Major mode for Z80 assembly sources."
        (setq-local asm-comment-char ?\;))
      (add-to-list 'auto-mode-alist '("\\.z80\\'" . z80-asm-mode)))))

(defconst orvane-dap--thread 1 "The one thread orvane-dap has: the CP/M program.")

(defun orvane-dap-step-back (session)
  "Undo the last instruction of SESSION's program."
  (interactive (list (dap--cur-session-or-die)))
  (dap--step "stepBack" session))

(defun orvane-dap-reverse-continue (session)
  "Run SESSION's program backwards to the previous breakpoint or data breakpoint hit."
  (interactive (list (dap--cur-session-or-die)))
  (dap--step "reverseContinue" session))

(defun orvane-dap-pause (session)
  "Stop SESSION's running program where it is."
  (interactive (list (dap--cur-active-session-or-die)))
  (dap-stop-thread-1 session (or (dap--debug-session-thread-id session) orvane-dap--thread)))

(defvar orvane-dap--data-breakpoints nil
  "The data breakpoints of each session, as (SESSION . DATA-IDS).")

(defun orvane-dap-data-breakpoint (session name)
  "Stop SESSION's program right after an instruction writes the byte of NAME.
NAME is a symbol of the program or an address; asked for NAME again, the
data breakpoint is cleared."
  (interactive (let ((session (dap--cur-session-or-die)))
                 (list session (read-string "Stop after a write to (symbol or address): "
                                            (thing-at-point 'symbol t)))))
  (let* ((info (dap-request session "dataBreakpointInfo" :name name))
         (id (and info (gethash "dataId" info)))
         (ids (cdr (assq session orvane-dap--data-breakpoints))))
    (if (not id)
        (message "%s" (if info (gethash "description" info) "orvane-dap did not answer"))
      (setq ids (if (member id ids) (remove id ids) (cons id ids)))
      (setf (alist-get session orvane-dap--data-breakpoints) ids)
      (dap-request session "setDataBreakpoints"
                   :breakpoints (vconcat (mapcar (lambda (i) (list :dataId i :accessType "write")) ids)))
      (message (if (member id ids) "Stops after a write to %s" "No more stops after writes to %s")
               (gethash "description" info)))))

(defvar orvane-dap-keys-mode-map
  (let ((map (make-sparse-keymap)))
    (define-key map (kbd "S-<f10>") #'orvane-dap-step-back)
    (define-key map (kbd "S-<f5>") #'orvane-dap-reverse-continue)
    (define-key map (kbd "<f6>") #'orvane-dap-pause)
    (define-key map (kbd "C-c C-d b") #'orvane-dap-step-back)
    (define-key map (kbd "C-c C-d r") #'orvane-dap-reverse-continue)
    (define-key map (kbd "C-c C-d p") #'orvane-dap-pause)
    (define-key map (kbd "C-c C-d w") #'orvane-dap-data-breakpoint)
    map)
  "Keys for orvane-dap's commands in Z80 buffers.")

(define-minor-mode orvane-dap-keys-mode
  "Keys for step back, reverse continue, pause and data breakpoints with orvane-dap."
  :lighter nil
  :keymap orvane-dap-keys-mode-map)

(add-hook 'z80-asm-mode-hook #'orvane-dap-keys-mode)

;; dap-mode draws breakpoints and the current line in the fringe only; a
;; terminal Emacs has none, so there the marks go to the left margin.
(defun orvane-dap--mark-in-margin (make beg end visuals &rest rest)
  "Call MAKE (`dap-ui--make-overlay') with BEG END VISUALS REST; without a
fringe, show its mark in the left margin."
  (let ((ov (apply make beg end visuals rest))
        (char (plist-get visuals :char)))
    (when (and char (not (display-graphic-p)) (overlay-buffer ov))
      (overlay-put ov 'before-string
                   (propertize " " 'display
                               `((margin left-margin)
                                 ,(propertize (if (equal char ">") ">" "B")
                                              'face (or (plist-get visuals :fringe) 'default)))))
      (with-current-buffer (overlay-buffer ov)
        (when (< left-margin-width 2)
          (setq left-margin-width 2)
          (dolist (window (get-buffer-window-list (current-buffer) nil t))
            (set-window-buffer window (current-buffer))))))
    ov))

(advice-add 'dap-ui--make-overlay :around #'orvane-dap--mark-in-margin)

(provide 'orvane-dap)
;;; orvane-dap.el ends here
