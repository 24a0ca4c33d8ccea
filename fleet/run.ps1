# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# What every fleet script shares: where drvflip.exe is, how it is run, and
# what its lines mean. tools/drvflip_release/fleet.py puts these lines into
# each script in place of its "#@run.ps1" line, so that each script is one
# file, as the agents take them.

# drvflip.exe in the 64-bit Program Files: ProgramW6432 names it in a 32-bit
# PowerShell too (Windows 7 and later); a 32-bit Windows has only ProgramFiles.
$drvflipRoot = $env:ProgramW6432
if (-not $drvflipRoot) { $drvflipRoot = $env:ProgramFiles }
$drvflipExe = [System.IO.Path]::Combine([string] $drvflipRoot, 'drvflip', 'drvflip.exe')

# One line of output: no line break, and at most 400 characters (the portal
# shows 2048).
function Get-OneLine([string] $Text) {
    $line = ($Text -replace '[\r\n]+', ' ').Trim()
    if ($line.Length -gt 400) { $line = $line.Substring(0, 400) }
    return $line
}

# drvflip.exe COMMAND, started by .NET with both streams read as bytes (no
# line of its standard error becomes a PowerShell error record, whatever
# $ErrorActionPreference says), its standard input closed and 30 seconds to
# finish. Status is $null where it did not run, and Problem says why.
function Invoke-Drvflip([string] $Command) {
    $result = @{ Status = $null; Out = @(); Err = @(); Problem = $null }
    if (-not [System.IO.File]::Exists($drvflipExe)) {
        $result.Problem = "drvflip.exe is not at $drvflipExe"
        return $result
    }
    $latin1 = [System.Text.Encoding]::GetEncoding(28591)
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $drvflipExe
    $info.Arguments = $Command
    $info.UseShellExecute = $false
    $info.CreateNoWindow = $true
    $info.RedirectStandardInput = $true
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $info.StandardOutputEncoding = $latin1
    $info.StandardErrorEncoding = $latin1
    try {
        $process = [System.Diagnostics.Process]::Start($info)
    } catch {
        $result.Problem = "drvflip.exe could not be started: $($_.Exception.Message)"
        return $result
    }
    try {
        $process.StandardInput.Close()
        $out = $process.StandardOutput.ReadToEndAsync()
        $err = $process.StandardError.ReadToEndAsync()
        if (-not $process.WaitForExit(30000)) {
            try { $process.Kill() } catch { }
            $result.Problem = "drvflip $Command did not finish within 30 seconds"
            return $result
        }
        $process.WaitForExit()
        $result.Status = $process.ExitCode
        $result.Out = @($out.Result -split "`r?`n" | Where-Object { $_.Length -gt 0 })
        $result.Err = @($err.Result -split "`r?`n" | Where-Object { $_.Length -gt 0 })
    } finally {
        $process.Dispose()
    }
    return $result
}

# The first line that starts with PREFIX (compared ordinally), or $null.
function Find-Line([string[]] $Lines, [string] $Prefix) {
    foreach ($line in $Lines) {
        if ($line.StartsWith($Prefix, [System.StringComparison]::Ordinal)) { return $line }
    }
    return $null
}

# Whether LINE is one of the lines, compared ordinally.
function Test-Line([string[]] $Lines, [string] $Line) {
    foreach ($each in $Lines) {
        if ([string]::Equals($each, $Line, [System.StringComparison]::Ordinal)) { return $true }
    }
    return $false
}

# The type that drvflip read back ("PCSC", "TAVI", "unknown"), or $null.
function Get-ActiveType([string[]] $Lines) {
    $prefix = 'Currently activated driver type: '
    $line = Find-Line $Lines $prefix
    if ($null -eq $line) { return $null }
    return $line.Substring($prefix.Length)
}

# Why a run failed: its first ERROR line (standard error first), else STATUS.
function Get-Reason($Run, [string] $What) {
    $line = Find-Line $Run.Err 'ERROR: '
    if ($null -eq $line) { $line = Find-Line $Run.Out 'ERROR: ' }
    if ($null -eq $line) { return $What }
    return "$What ($line)"
}

# What a query says of the reader, for the wanted type: Kind is 'wanted',
# 'none' (no reader counted), 'other' or 'failed'; Text says it in words.
function Get-QueryOutcome([string] $Want) {
    $run = Invoke-Drvflip 'query'
    if ($null -eq $run.Status) { return @{ Kind = 'failed'; Text = $run.Problem } }
    $active = Get-ActiveType $run.Out
    if ($run.Status -eq 2 -and (Test-Line $run.Out '0 device(s) found.')) {
        return @{ Kind = 'none'; Text = 'no reader attached' }
    }
    if ($run.Status -ne 0) {
        return @{ Kind = 'failed'; Text = (Get-Reason $run "drvflip query failed with status $($run.Status)") }
    }
    if ($null -eq $active) { return @{ Kind = 'failed'; Text = (Get-Reason $run 'drvflip query read no driver type') } }
    if ([string]::Equals($active, $Want, [System.StringComparison]::Ordinal)) {
        return @{ Kind = 'wanted'; Text = "the reader runs $active" }
    }
    return @{ Kind = 'other'; Text = "the reader runs $active" }
}

# What a switch to the wanted type did: Kind is 'switched', 'none' (no reader
# counted) or 'failed'; Text says it in words.
function Get-SwitchOutcome([string] $Want, [string] $Command) {
    $run = Invoke-Drvflip $Command
    if ($null -eq $run.Status) { return @{ Kind = 'failed'; Text = $run.Problem } }
    if ($run.Status -ne 0) {
        return @{ Kind = 'failed'; Text = (Get-Reason $run "drvflip $Command failed with status $($run.Status)") }
    }
    if ((Test-Line $run.Out '0 device(s) found.')) { return @{ Kind = 'none'; Text = 'no reader attached' } }
    $active = Get-ActiveType $run.Out
    if ($null -eq $active) {
        return @{ Kind = 'failed'; Text = (Get-Reason $run "drvflip $Command did not read back the type now active") }
    }
    if ([string]::Equals($active, $Want, [System.StringComparison]::Ordinal)) {
        return @{ Kind = 'switched'; Text = "the reader runs $active" }
    }
    return @{ Kind = 'failed'; Text = "the reader runs $active after drvflip $Command" }
}

# Whether a query's outcome needs nothing done: the wanted type, or no reader.
function Test-Compliant($Outcome) {
    return ($Outcome.Kind -eq 'wanted' -or $Outcome.Kind -eq 'none')
}

# The line that a remediation prints for a switch's outcome.
function Get-SwitchLine($Outcome) {
    if ($Outcome.Kind -eq 'switched') { return (Get-OneLine "switched: $($Outcome.Text)") }
    if ($Outcome.Kind -eq 'none') { return (Get-OneLine "nothing to switch: $($Outcome.Text)") }
    return (Get-OneLine "failed: $($Outcome.Text)")
}
