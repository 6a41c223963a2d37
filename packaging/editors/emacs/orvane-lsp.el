;;; orvane-lsp.el --- orvane-lsp for Z80 sources through eglot  -*- lexical-binding: t -*-

;; Load this file from your init file, e.g.
;;   (load "/usr/share/doc/orvane/editors/emacs/orvane-lsp.el")
;; then M-x eglot in a *.z80 or *.asm buffer (or add eglot-ensure to
;; asm-mode-hook).  Settings go to the server as initializationOptions:
;; :format is "hex" or "cpm", :warnings a vector of names as -W takes them.

(require 'eglot)

(add-to-list 'auto-mode-alist '("\\.z80\\'" . asm-mode))

(add-to-list 'eglot-server-programs
             '(asm-mode . ("orvane-lsp" :initializationOptions
                           (:format "hex" :warnings ["all"]))))

(provide 'orvane-lsp)
;;; orvane-lsp.el ends here
