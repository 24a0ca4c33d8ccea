# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# The fleet's PowerShell scripts run as each agent runs them, under pwsh,
# against the real drvflip.exe in the lab (Wine and the test switch driver).
# tests/fleet/run sets the environment: DRVFLIP_FLEET_SCRIPTS (the scripts as
# the release makes them), DRVFLIP_FLEET_LAB (the lab command), DRVFLIP_FLEET_PF
# (a Program Files whose drvflip\drvflip.exe runs the exe in the lab),
# DRVFLIP_FLEET_PWSH (the pwsh that runs each script).

BeforeDiscovery {
    $scripts = $env:DRVFLIP_FLEET_SCRIPTS
    $ps1 = @(Get-ChildItem -LiteralPath $scripts -Filter '*.ps1' | ForEach-Object { @{ Name = $_.Name } })
    # Syntax that Windows PowerShell 5.1 lacks, each with a line that has it.
    $newSyntax = @(
        @{ What = 'the ternary operator'; Code = '$a = $true ? 1 : 2' }
        @{ What = '&& between pipelines'; Code = 'Get-Date && Get-Date' }
        @{ What = '|| between pipelines'; Code = 'Get-Date || Get-Date' }
        @{ What = '??'; Code = '$a = $null ?? 1' }
        @{ What = '??='; Code = '$a ??= 1' }
        @{ What = '?.'; Code = '${a}?.Length' }
        @{ What = '?[]'; Code = '${a}?[0]' }
        @{ What = 'a clean block'; Code = 'function f { process { } clean { } }' }
    )
    $cultures = @('tr-TR', 'en-US', 'invariant')
}

BeforeAll {
    $scripts = $env:DRVFLIP_FLEET_SCRIPTS
    $lab = $env:DRVFLIP_FLEET_LAB
    $programFiles = $env:DRVFLIP_FLEET_PF
    $pwsh = $env:DRVFLIP_FLEET_PWSH
    $empty = Join-Path ([System.IO.Path]::GetTempPath()) "drvflip-fleet-empty-$PID"
    New-Item -ItemType Directory -Force -Path $empty | Out-Null

    # Findings of syntax that Windows PowerShell 5.1 lacks, from PowerShell's own parser.
    function Get-NewSyntax([string] $Text) {
        $tokens = $null
        $errors = $null
        $ast = [System.Management.Automation.Language.Parser]::ParseInput($Text, [ref] $tokens, [ref] $errors)
        $found = @($errors | ForEach-Object { "parse error: $($_.Message)" })
        $found += @($ast.FindAll({
                    param($n)
                    $n -is [System.Management.Automation.Language.TernaryExpressionAst] -or
                    $n -is [System.Management.Automation.Language.PipelineChainAst] -or
                    ($n -is [System.Management.Automation.Language.BinaryExpressionAst] -and
                    $n.Operator -eq [System.Management.Automation.Language.TokenKind]::QuestionQuestion) -or
                    ($n -is [System.Management.Automation.Language.AssignmentStatementAst] -and
                    $n.Operator -eq [System.Management.Automation.Language.TokenKind]::QuestionQuestionEquals) -or
                    ($n -is [System.Management.Automation.Language.MemberExpressionAst] -and $n.NullConditional) -or
                    ($n -is [System.Management.Automation.Language.IndexExpressionAst] -and $n.NullConditional) -or
                    ($n -is [System.Management.Automation.Language.NamedBlockAst] -and
                    $n.BlockKind -eq [System.Management.Automation.Language.TokenKind]::Clean)
                }, $true) | ForEach-Object { "line $($_.Extent.StartLineNumber): $($_.Extent.Text)" })
        return $found
    }

    # The locale that gives a culture to .NET on Linux.
    function Get-Locale([string] $Culture) {
        switch ($Culture) {
            'tr-TR' { 'tr_TR.UTF-8' }
            'en-US' { 'en_US.UTF-8' }
            default { 'C' }
        }
    }

    # Runs pwsh as an agent does, with ARGUMENTS, under CULTURE, with
    # ProgramW6432 naming the lab's Program Files (or an empty one: no exe).
    # Both streams and the exit status, each apart.
    function Invoke-Pwsh([string[]] $Arguments, [string] $Culture = 'tr-TR', [switch] $NoExe,
        [hashtable] $Environment = @{}) {
        $info = New-Object System.Diagnostics.ProcessStartInfo
        $info.FileName = $pwsh
        foreach ($a in @('-NoProfile', '-NonInteractive', '-ExecutionPolicy', 'Bypass') + $Arguments) {
            $info.ArgumentList.Add($a)
        }
        $info.UseShellExecute = $false
        $info.RedirectStandardInput = $true
        $info.RedirectStandardOutput = $true
        $info.RedirectStandardError = $true
        $info.Environment['LC_ALL'] = Get-Locale $Culture
        $info.Environment['LANG'] = Get-Locale $Culture
        $info.Environment.Remove('DOTNET_SYSTEM_GLOBALIZATION_INVARIANT') | Out-Null
        $info.Environment['ProgramW6432'] = if ($NoExe) { $empty } else { $programFiles }
        $info.Environment['ProgramFiles'] = $empty
        foreach ($k in $Environment.Keys) { $info.Environment[$k] = $Environment[$k] }
        $p = [System.Diagnostics.Process]::Start($info)
        $p.StandardInput.Close()
        $out = $p.StandardOutput.ReadToEndAsync()
        $err = $p.StandardError.ReadToEndAsync()
        $p.WaitForExit()
        [pscustomobject]@{ Status = $p.ExitCode; Out = $out.Result; Err = $err.Result }
    }

    # A script run with -File, as Intune and the Win32 app's commands run one.
    function Invoke-File([string] $Name, [string] $Culture = 'tr-TR', [switch] $NoExe, [hashtable] $Environment = @{}) {
        Invoke-Pwsh @('-File', (Join-Path $scripts $Name)) -Culture $Culture -NoExe:$NoExe -Environment $Environment
    }

    # A remediation script run as Configuration Manager runs one: a failure is
    # a throw, and its exit code is not read (99 here means it threw).
    function Invoke-Hosted([string] $Name, [string] $Culture = 'tr-TR', [switch] $NoExe) {
        $run = Invoke-Pwsh @('-Command', 'try { & $env:DRVFLIP_FLEET_SCRIPT } catch { exit 99 }; exit 0') `
            -Culture $Culture -NoExe:$NoExe -Environment @{ DRVFLIP_FLEET_SCRIPT = (Join-Path $scripts $Name) }
        $run | Add-Member -NotePropertyName Threw -NotePropertyValue ($run.Status -eq 99) -PassThru
    }

    # What the Intune portal shows of a run: its last line of standard output
    # (at most 2048 characters); standard error is reported as an error.
    function Get-PortalLine($Run) {
        $lines = @($Run.Out -split "`r?`n" | Where-Object { $_ })
        if ($lines.Count -eq 0) { return '' }
        $last = $lines[-1]
        if ($last.Length -gt 2048) { $last = $last.Substring(0, 2048) }
        return $last
    }

    # Intune Remediations: detection; where it exited 1, remediation, then
    # detection again. The state that the portal reports.
    function Invoke-Intune([string] $Command, [string] $Culture = 'tr-TR', [switch] $NoExe) {
        $r = [ordered]@{ Detect = (Invoke-File "intune-detect-$Command.ps1" $Culture -NoExe:$NoExe); Remediate = $null; Post = $null }
        if ($r.Detect.Status -eq 0) { $r.State = 'without issues' }
        elseif ($r.Detect.Status -ne 1) { $r.State = 'detection failed' }
        else {
            $r.Remediate = Invoke-File "intune-remediate-$Command.ps1" $Culture -NoExe:$NoExe
            $r.Post = Invoke-File "intune-detect-$Command.ps1" $Culture -NoExe:$NoExe
            $r.State = if ($r.Post.Status -eq 0) { 'issue fixed' } else { 'issue not fixed' }
        }
        [pscustomobject] $r
    }

    # Configuration Manager: discovery must exit 0; its value is compared with
    # Equals "compliant"; remediation runs only where it differs, fails by
    # throwing; then discovery runs again.
    function Invoke-ConfigMgr([string] $Command, [string] $Culture = 'tr-TR', [switch] $NoExe) {
        $r = [ordered]@{ Discover = (Invoke-File "configmgr-discover-$Command.ps1" $Culture -NoExe:$NoExe); Remediate = $null; Post = $null }
        $value = { param($run) ($run.Out -replace "`r?`n$", '') }
        if ($r.Discover.Status -ne 0) { $r.State = 'discovery failure' }
        elseif ((& $value $r.Discover) -ceq 'compliant') { $r.State = 'compliant' }
        else {
            $r.Remediate = Invoke-Hosted "configmgr-remediate-$Command.ps1" $Culture -NoExe:$NoExe
            $r.Post = Invoke-File "configmgr-discover-$Command.ps1" $Culture -NoExe:$NoExe
            if ($r.Post.Status -ne 0) { $r.State = 'discovery failure' }
            elseif ($r.Remediate.Threw) { $r.State = 'remediation failed' }
            elseif ((& $value $r.Post) -ceq 'compliant') { $r.State = 'remediated' }
            else { $r.State = 'non-compliant' }
        }
        [pscustomobject] $r
    }

    # Exactly one line on standard output, LINE (a pattern where -Like), and
    # nothing on standard error.
    function Assert-OneLine($Run, [string] $Line, [switch] $Like) {
        $Run.Err | Should -BeNullOrEmpty
        $lines = @($Run.Out -split "`r?`n" | Select-Object -SkipLast 1)
        $lines.Count | Should -Be 1 -Because "the output was: $($Run.Out)"
        if ($Like) { $lines[0] | Should -BeLikeExactly $Line } else { $lines[0] | Should -BeExactly $Line }
        $Run.Out | Should -BeExactly ($lines[0] + [Environment]::NewLine)
    }

    function Lab { & $lab @args | Out-Null }
    # The lab's reader 0, present, with TYPE active and no behaviour value set.
    function Reset-Reader([string] $Active) {
        & $lab remove 0 *> $null
        Lab add 0
        foreach ($value in 'ApiVersion', 'ActiveStatus', 'SetStatus') { Lab unset 0 $value }
        & $lab run $Active.ToLowerInvariant() *> $null
    }
}

AfterAll {
    Remove-Item -LiteralPath $empty -Recurse -Force -ErrorAction SilentlyContinue
}

Describe 'Each script is Windows PowerShell 5.1' {
    It '<Name> has no syntax that 5.1 lacks, and only ASCII' -ForEach $ps1 {
        $path = Join-Path $scripts $Name
        Get-NewSyntax ([System.IO.File]::ReadAllText($path)) | Should -BeNullOrEmpty
        [System.IO.File]::ReadAllBytes($path) | Where-Object { $_ -gt 126 } | Should -BeNullOrEmpty
    }
    It 'the check finds <What>' -ForEach $newSyntax {
        Get-NewSyntax $Code | Should -Not -BeNullOrEmpty
    }
}

Describe 'The culture takes effect in the scripts'' PowerShell' {
    It '<_>' -ForEach $cultures {
        $run = Invoke-Pwsh @('-Command', '"{0}|{1}" -f [cultureinfo]::CurrentCulture.Name, "I".ToLower()') -Culture $_
        $want = @{ 'tr-TR' = 'tr-TR|ı'; 'en-US' = 'en-US|i'; 'invariant' = '|i' }[$_]
        $run.Out.Trim() | Should -BeExactly $want
    }
}

Describe 'Intune Remediations, wanting <Type>' -ForEach @(
    @{ Type = 'PCSC'; Command = 'pcsc'; Other = 'TAVI' }
    @{ Type = 'TAVI'; Command = 'tavi'; Other = 'PCSC' }
) {
    It 'the reader runs <Type>: without issues, nothing run after detection (<_>)' -ForEach $cultures {
        Reset-Reader $Type
        $r = Invoke-Intune $Command $_
        $r.State | Should -Be 'without issues'
        Assert-OneLine $r.Detect "compliant: the reader runs $Type"
        Get-PortalLine $r.Detect | Should -BeExactly "compliant: the reader runs $Type"
    }
    It 'the reader runs <Other>: remediated, and detection then says so (<_>)' -ForEach $cultures {
        Reset-Reader $Other
        $r = Invoke-Intune $Command $_
        $r.State | Should -Be 'issue fixed'
        Assert-OneLine $r.Detect "not compliant: the reader runs $Other"
        $r.Detect.Status | Should -Be 1
        Assert-OneLine $r.Remediate "switched: the reader runs $Type"
        $r.Remediate.Status | Should -Be 0
        Assert-OneLine $r.Post "compliant: the reader runs $Type"
    }
    It 'no reader: without issues' {
        Lab remove 0
        $r = Invoke-Intune $Command
        $r.State | Should -Be 'without issues'
        Assert-OneLine $r.Detect 'compliant: no reader attached'
    }
    It 'no reader at remediation: nothing to switch, exit 0' {
        Lab remove 0
        $run = Invoke-File "intune-remediate-$Command.ps1"
        $run.Status | Should -Be 0
        Assert-OneLine $run 'nothing to switch: no reader attached'
    }
    It 'the exe missing: one line, no number missing, nothing on standard error' {
        $r = Invoke-Intune $Command -NoExe
        $r.State | Should -Be 'issue not fixed'
        Assert-OneLine $r.Detect 'not compliant: drvflip.exe is not at *drvflip-fleet-empty-*drvflip.exe' -Like
        Assert-OneLine $r.Remediate 'failed: drvflip.exe is not at *drvflip.exe' -Like
        $r.Remediate.Status | Should -Be 1
    }
}

Describe 'Configuration Manager, wanting <Type>' -ForEach @(
    @{ Type = 'PCSC'; Command = 'pcsc'; Other = 'TAVI' }
    @{ Type = 'TAVI'; Command = 'tavi'; Other = 'PCSC' }
) {
    It 'the reader runs <Type>: compliant, exactly (<_>)' -ForEach $cultures {
        Reset-Reader $Type
        $r = Invoke-ConfigMgr $Command $_
        $r.State | Should -Be 'compliant'
        Assert-OneLine $r.Discover 'compliant'
        $r.Discover.Status | Should -Be 0
    }
    It 'the reader runs <Other>: remediated (<_>)' -ForEach $cultures {
        Reset-Reader $Other
        $r = Invoke-ConfigMgr $Command $_
        $r.State | Should -Be 'remediated'
        Assert-OneLine $r.Discover "noncompliant: the reader runs $Other"
        $r.Discover.Status | Should -Be 0
        Assert-OneLine $r.Remediate "switched: the reader runs $Type"
        $r.Remediate.Threw | Should -BeFalse
        Assert-OneLine $r.Post 'compliant'
    }
    It 'no reader: compliant' {
        Lab remove 0
        $r = Invoke-ConfigMgr $Command
        $r.State | Should -Be 'compliant'
        Assert-OneLine $r.Discover 'compliant'
    }
    It 'the exe missing: discovery exits 0 and says so; remediation throws' {
        $r = Invoke-ConfigMgr $Command -NoExe
        $r.State | Should -Be 'remediation failed'
        Assert-OneLine $r.Discover 'noncompliant: drvflip.exe is not at *' -Like
        $r.Discover.Status | Should -Be 0
        $r.Remediate.Threw | Should -BeTrue
    }
}

# A reader whose switch driver fails, under both agents. In the lines, {0}
# stands for the command and {1} for the other type (the one the reader keeps).
Describe 'A failing reader, wanting <Type>' -ForEach @(
    @{ Type = 'PCSC'; Command = 'pcsc'; Other = 'TAVI' }
    @{ Type = 'TAVI'; Command = 'tavi'; Other = 'PCSC' }
) {
    It '<Fault>: Intune does not fix it, Configuration Manager''s remediation throws' -ForEach @(
        @{ Fault = 'a refused API version'; Setting = 'ApiVersion'; Value = '0x00020000'
            QueryText = 'drvflip query failed with status 1 (ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.)'
            SwitchText = 'drvflip {0} failed with status 1 (ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.)' }
        @{ Fault = 'a failed read'; Setting = 'ActiveStatus'; Value = '0xC0000010'
            QueryText = 'drvflip query failed with status 1 (ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.)'
            SwitchText = 'drvflip {0} did not read back the type now active (ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.)' }
        @{ Fault = 'a refused set request'; Setting = 'SetStatus'; Value = '0xC00000BB'
            QueryText = 'the reader runs {1}'
            SwitchText = 'drvflip {0} failed with status 1 (ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.)' }
    ) {
        $queryLine = $QueryText -f $Command, $Other
        $switchLine = 'failed: ' + ($SwitchText -f $Command, $Other)
        Reset-Reader $Other
        Lab set 0 $Setting $Value
        $r = Invoke-Intune $Command
        $r.State | Should -Be 'issue not fixed'
        Assert-OneLine $r.Detect "not compliant: $queryLine"
        Assert-OneLine $r.Remediate $switchLine
        $r.Remediate.Status | Should -Be 1
        Assert-OneLine $r.Post "not compliant: $queryLine"
        $c = Invoke-ConfigMgr $Command
        $c.State | Should -Be 'remediation failed'
        Assert-OneLine $c.Discover "noncompliant: $queryLine"
        $c.Discover.Status | Should -Be 0
        $c.Remediate.Threw | Should -BeTrue
        Assert-OneLine $c.Remediate $switchLine
        Assert-OneLine $c.Post "noncompliant: $queryLine"
    }
}

# Windows PowerShell 5.1 makes a native program's standard error throw under
# Stop; pwsh 7 never does. $PSNativeCommandUseErrorActionPreference makes a
# native call that exits non-zero throw instead: a script that ran drvflip as
# a native command (& $exe query 2>&1) fails here as it would under 5.1.
Describe 'Under $ErrorActionPreference = Stop, drvflip''s standard error and status throw nothing' {
    It '<Name>' -ForEach @(
        @{ Name = 'intune-detect-pcsc.ps1'; Line = 'not compliant: drvflip query failed with status 1 (ERROR: Driver API*' }
        @{ Name = 'configmgr-discover-pcsc.ps1'; Line = 'noncompliant: drvflip query failed with status 1 (ERROR: Driver API*' }
        @{ Name = 'intune-remediate-pcsc.ps1'; Line = 'failed: drvflip pcsc failed with status 1 (ERROR: Driver API*' }
    ) {
        Reset-Reader 'PCSC'
        Lab set 0 ApiVersion 0x00020000
        $strict = "`$ErrorActionPreference = 'Stop'; `$PSNativeCommandUseErrorActionPreference = `$true"
        $run = Invoke-Pwsh @('-Command', "$strict; & `$env:DRVFLIP_FLEET_SCRIPT; exit `$LASTEXITCODE") `
            -Environment @{ DRVFLIP_FLEET_SCRIPT = (Join-Path $scripts $Name) }
        Assert-OneLine $run $Line -Like
    }
}
