# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# What every fleet script shares: where drvflip.exe is, how it is run, and
# what its lines mean. tools/drvflip_release/fleet.py puts these lines into
# each script in place of its "#@run.ps1" line, so that each script is one
# file, as the agents take them. Written in Windows PowerShell 5.1's language
# and for ConstrainedLanguage, where App Control for Business or AppLocker
# runs a script that its policy does not allow: cmdlets, and methods of
# strings only.

# What drvflip prints that the scripts read: the count line of no reader, the
# start of the line of the type now active, and the status of a query that
# counted no reader (src/app/switch_run.h names them where they are printed).
$drvflipNoReaderLine = '0 device(s) found.'
$drvflipActivePrefix = 'Currently activated driver type: '
$drvflipNoReaderStatus = 2
# How long drvflip may take: it waits for each request of the switch driver
# without a limit of its own.
$drvflipSeconds = 30

# drvflip.exe in the 64-bit Program Files: ProgramW6432 names it in a 32-bit
# PowerShell too (Windows 7 and later); a 32-bit Windows has only ProgramFiles.
# A root that is not a full path (a drive and its root folder) counts as none:
# the exe is never looked for relative to the current folder or drive.
if ($PSVersionTable.Platform -eq 'Unix') {
    $drvflipSeparator = '/'
    $drvflipFullPath = '^/'
} else {
    $drvflipSeparator = '\'
    $drvflipFullPath = '^[A-Za-z]:\\'
}
$drvflipExe = $null
foreach ($drvflipRoot in @($env:ProgramW6432, $env:ProgramFiles)) {
    if ($null -eq $drvflipExe -and $drvflipRoot -and $drvflipRoot -cmatch $drvflipFullPath) {
        $drvflipExe = $drvflipRoot.TrimEnd('\', '/') + $drvflipSeparator + 'drvflip' + $drvflipSeparator + 'drvflip.exe'
    }
}

# One line of output: printable ASCII only (a run of line breaks, tabs and
# other control characters becomes one space, any other character a "?"), and
# at most 400 characters (the portal shows 2048).
function Get-OneLine([string] $Text) {
    $line = (($Text -replace '[\x00-\x1F\x7F]+', ' ') -replace '[^\x20-\x7E]', '?').Trim()
    if ($line.Length -gt 400) { $line = $line.Substring(0, 400) }
    return $line
}

# The lines of a file that drvflip wrote, without the empty ones.
function Read-Lines([string] $Path) {
    $text = Get-Content -LiteralPath $Path -Raw -Encoding UTF8 -ErrorAction Stop
    if ($null -eq $text) { return @() }
    return @($text -split "`r?`n" | Where-Object { $_.Length -gt 0 })
}

# drvflip.exe COMMAND, started with both of its output streams written to
# files of their own (no line of its standard error becomes
# a PowerShell error record, whatever $ErrorActionPreference says), and
# $drvflipSeconds to finish; ended where it has not. Status is $null where it
# did not run to its end, and Problem says why.
function Invoke-Drvflip([string] $Command) {
    $result = @{ Status = $null; Out = @(); Err = @(); Problem = $null }
    if ($null -eq $drvflipExe) {
        $result.Problem = 'drvflip.exe is not at Program Files\drvflip\drvflip.exe: neither ProgramW6432 nor ProgramFiles names a full path'
        return $result
    }
    if (-not (Test-Path -LiteralPath $drvflipExe -PathType Leaf)) {
        $result.Problem = "drvflip.exe is not at $drvflipExe"
        return $result
    }
    $files = @()
    try {
        try {
            $files = @((New-TemporaryFile -ErrorAction Stop).FullName, (New-TemporaryFile -ErrorAction Stop).FullName)
        } catch {
            $result.Problem = "drvflip.exe could not be started: no temporary file: $($_.Exception.Message)"
            return $result
        }
        try {
            $process = Start-Process -FilePath $drvflipExe -ArgumentList $Command -NoNewWindow -PassThru `
                -RedirectStandardOutput $files[0] -RedirectStandardError $files[1] `
                -ErrorAction Stop
        } catch {
            $result.Problem = "drvflip.exe could not be started: $($_.Exception.Message)"
            return $result
        }
        # Windows PowerShell 5.1 keeps the exit code only of a process whose
        # handle was taken while it ran.
        $null = $process.Handle
        Wait-Process -InputObject $process -Timeout $drvflipSeconds -ErrorAction SilentlyContinue
        if (-not $process.HasExited) {
            Stop-Process -InputObject $process -Force -ErrorAction SilentlyContinue
            Wait-Process -InputObject $process -Timeout 10 -ErrorAction SilentlyContinue
            $result.Problem = "drvflip $Command did not finish within $drvflipSeconds seconds"
            return $result
        }
        try {
            $result.Out = @(Read-Lines $files[0])
            $result.Err = @(Read-Lines $files[1])
        } catch {
            $result.Problem = "drvflip $Command ran, but its output could not be read: $($_.Exception.Message)"
            return $result
        }
        $result.Status = $process.ExitCode
    } finally {
        foreach ($file in $files) { Remove-Item -LiteralPath $file -Force -ErrorAction SilentlyContinue }
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
    $line = Find-Line $Lines $drvflipActivePrefix
    if ($null -eq $line) { return $null }
    return $line.Substring($drvflipActivePrefix.Length)
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
    if ($run.Status -eq $drvflipNoReaderStatus -and (Test-Line $run.Out $drvflipNoReaderLine)) {
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
    if ((Test-Line $run.Out $drvflipNoReaderLine)) { return @{ Kind = 'none'; Text = 'no reader attached' } }
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

# LINE on standard error, as it stands. ConstrainedLanguage reaches standard
# error only through an error record, which PowerShell prints with its own
# words around the line.
function Write-ErrorLine([string] $Line) {
    if ($ExecutionContext.SessionState.LanguageMode -eq 'FullLanguage') {
        [Console]::Error.WriteLine($Line)
    } else {
        Write-Error -Message $Line -ErrorAction Continue
    }
}
