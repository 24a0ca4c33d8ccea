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

# signs_scripts [OSSLSIGNCODE]: true where osslsigncode (or OSSLSIGNCODE) is
# 2.8 or later, the first that signs and verifies PowerShell scripts; prints
# its version ("2.5", or nothing where it names none).
signs_scripts() {
  local v major minor
  v=$("${1:-osslsigncode}" --version 2>/dev/null </dev/null | sed -n '1s/^osslsigncode \([0-9][0-9]*\.[0-9][0-9]*\).*/\1/p') || true
  echo "$v"
  IFS=. read -r major minor <<<"${v:-0.0}"
  [ "$major" -gt 2 ] || { [ "$major" = 2 ] && [ "$minor" -ge 8 ]; }
}

# sbom_modules: the folder of the SBOM validator's npm packages, one for each
# lock file (tools/install-deps release installs it there, outside the tree).
sbom_modules() {
  echo "${HOME:-/root}/.cache/drvflip/cyclonedx-$(sha256sum <"$(dirname "${BASH_SOURCE[0]}")/../sbom-validator/package-lock.json" | cut -c1-16)"
}
