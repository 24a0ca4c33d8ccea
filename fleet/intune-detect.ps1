# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Intune Remediations, detection: does this machine's reader run the @TYPE@ driver?
# Exit 0 where it does or no reader is attached (nothing to fix), exit 1 where
# the remediation script must run. One line on standard output, for the portal.
#@run.ps1
$outcome = Get-QueryOutcome '@TYPE@'
if (Test-Compliant $outcome) {
    Write-Output (Get-OneLine "compliant: $($outcome.Text)")
    exit 0
}
Write-Output (Get-OneLine "not compliant: $($outcome.Text)")
exit 1
