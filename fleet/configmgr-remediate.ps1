# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Configuration Manager, remediation script of a configuration item: switch
# this machine's reader to the @TYPE@ driver. Prints one line on standard
# output; where the switch failed it then throws, which is how a remediation
# script reports a failure to Configuration Manager (an exit code is not read).
#@run.ps1
$outcome = Get-SwitchOutcome '@TYPE@' '@COMMAND@'
$line = Get-SwitchLine $outcome
Write-Output $line
if ($outcome.Kind -eq 'failed') { throw $line }
exit 0
