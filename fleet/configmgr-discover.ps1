# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Configuration Manager, discovery script of a configuration item (data type
# String, compliance rule Equals "compliant"): does this machine's reader run
# the @TYPE@ driver? Prints exactly "compliant" where it does or no reader is
# attached, else "noncompliant: " and why. Always exits 0: a discovery script
# that exits otherwise is a discovery failure, not a value.
#@run.ps1
try {
    $outcome = Get-QueryOutcome '@TYPE@'
    if (Test-Compliant $outcome) {
        $value = 'compliant'
    } else {
        $value = Get-OneLine "noncompliant: $($outcome.Text)"
    }
} catch {
    $value = Get-OneLine "noncompliant: the discovery failed: $($_.Exception.Message)"
}
Write-Output $value
exit 0
