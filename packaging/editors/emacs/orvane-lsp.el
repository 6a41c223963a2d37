;;; orvane-lsp.el --- orvane-lsp for Z80 sources through eglot  -*- lexical-binding: t -*-

;; Load this file from your init file:
;;   (load "@ORVANE_EDITORS_DIR@/emacs/orvane-lsp.el")
;; then M-x eglot in a Z80 buffer (or add eglot-ensure to z80-asm-mode-hook).
;; A *.z80 file is a Z80 source; a *.asm file only when its first 4 KiB show
;; Z80 code (a register or mnemonic only the Z80 has, such as (HL), LD A, or
;; DJNZ): other *.asm files stay in asm-mode, without the server.
;;
;; A server that is not on PATH: (setq orvane-lsp-program "/path/to/orvane-lsp")
;; Settings go to the server as initializationOptions: :format is "hex" or
;; "cpm", :warnings a vector of names as -W takes them, :inlayHints t puts
;; each instruction's T-states at the end of its line (eglot 1.10 and later
;; show them; Debian 12's 1.9 does not ask).

(require 'eglot nil t)  ; orvane-dap.el loads this file for the mode alone, eglot or not
(require 'asm-mode)

(defvar orvane-lsp-program "orvane-lsp"
  "The orvane-lsp program: a name looked up on PATH, or a file name.")
(defvar orvane-lsp-settings '(:format "hex" :warnings ["all"] :inlayHints t)
  "The initializationOptions orvane-lsp gets.")

(define-derived-mode z80-asm-mode asm-mode "Z80"
  "Major mode for Z80 assembly sources, with orvane-lsp through eglot."
  (setq-local asm-comment-char ?\;))

(defconst orvane-lsp--z80-code
  (concat "(HL)\\|(hl)\\|(I[XY]\\+\\|(i[xy]\\+\\|(SP),HL\\|(sp),hl"
          "\\|LD[ \t]\\(?:A\\|HL\\|DE\\|BC\\|SP\\),\\|ld[ \t]\\(?:a\\|hl\\|de\\|bc\\|sp\\),"
          "\\|DJNZ\\|djnz\\|LDIR\\|ldir\\|LDDR\\|lddr\\|EX[ \t]DE,HL\\|ex[ \t]de,hl"
          "\\|EX[ \t]AF,AF'\\|ex[ \t]af,af'")
  "What only Z80 code holds, as the MIME type text/x-z80-asm looks for it.")

(defun orvane-lsp--z80-asm-p ()
  "Whether the buffer is a *.asm file whose first 4 KiB show Z80 code."
  (and buffer-file-name
       (string-match-p "\\.asm\\'" buffer-file-name)
       (save-excursion
         (goto-char (point-min))
         (let ((case-fold-search nil))
           (re-search-forward orvane-lsp--z80-code (min (point-max) (+ (point-min) 4096)) t)))))

(add-to-list 'auto-mode-alist '("\\.z80\\'" . z80-asm-mode))
(add-to-list 'magic-mode-alist '(orvane-lsp--z80-asm-p . z80-asm-mode))

(with-eval-after-load 'eglot
  (add-to-list 'eglot-server-programs
               `(z80-asm-mode . ,(lambda (&rest _)
                                   (list orvane-lsp-program :initializationOptions orvane-lsp-settings)))))

(provide 'orvane-lsp)
;;; orvane-lsp.el ends here
