# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Intune Remediations, remediation: switch this machine's reader to the @TYPE@ driver.
# Exit 0 where it now runs it or no reader is attached, exit 1 where the switch
# failed. One line on standard output, for the portal.
#@run.ps1
$outcome = Get-SwitchOutcome '@TYPE@' '@COMMAND@'
Write-Output (Get-SwitchLine $outcome)
if ($outcome.Kind -eq 'failed') { exit 1 }
exit 0
