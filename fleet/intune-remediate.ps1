# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Intune Remediations, remediation: switch this machine's reader to the @TYPE@ driver.
# Exit 0 where it now runs it or no reader is attached, exit 1 where the switch
# failed. One line on standard output; where the switch failed, that line on
# standard error too, since the portal shows a remediation's standard error
# and never its output. An Intune Win32 app runs it as its install command:
# 0 is success there, 1 a failure.
#@run.ps1
$outcome = Get-SwitchOutcome '@TYPE@' '@COMMAND@'
$line = Get-SwitchLine $outcome
Write-Output $line
if ($outcome.Kind -eq 'failed') {
    Write-ErrorLine $line
    exit 1
}
exit 0
