#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Sourced by every command of tools/ that needs it (and by release-files.sh):
# what they do alike. Sourcing it defines the functions below and nothing else.

# exit_on_signals: Ctrl+C, a TERM and a hang-up end the script through its
# EXIT trap (its cleanup), with the status that a shell gives each.
exit_on_signals() {
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

# need_git: stops with a clear message where git is missing.
need_git() {
  command -v git >/dev/null 2>&1 ||
    { echo "${0##*/}: git is needed (apt-get install git)" >&2; exit 1; }
}
