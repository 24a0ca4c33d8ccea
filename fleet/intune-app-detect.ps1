# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Intune Win32 app, custom detection script, for tenants without Remediations:
# the app "keeps the reader on @TYPE@" is detected where this machine's reader
# runs the @TYPE@ driver or no reader is attached: exit 0 and one line on
# standard output. Anywhere else (the switch is needed, or the state is not
# known) exit 1 with nothing on standard output, and Intune runs the app's
# install command, intune-remediate-@COMMAND@.ps1. Never anything on standard
# error.
#@run.ps1
try {
    $outcome = Get-QueryOutcome '@TYPE@'
    $detected = Test-Compliant $outcome
} catch {
    $detected = $false
}
if ($detected) {
    Write-Output (Get-OneLine "detected: $($outcome.Text)")
    exit 0
}
exit 1
