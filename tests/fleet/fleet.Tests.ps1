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
    # Each language mode: FullLanguage, and the ConstrainedLanguage in which App
    # Control or AppLocker runs a script that its policy does not allow.
    $modes = @('FullLanguage', 'ConstrainedLanguage')
    $wants = @(
        @{ Type = 'PCSC'; Command = 'pcsc'; Other = 'TAVI' }
        @{ Type = 'TAVI'; Command = 'tavi'; Other = 'PCSC' }
    )
    # Each wanted type in each mode.
    $modeRows = @(foreach ($m in $modes) { @{ Mode = $m } })
    $wantsAndModes = @(foreach ($w in $wants) { foreach ($m in $modes) { $w + @{ Mode = $m } } })
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
        [hashtable] $Environment = @{}, [string] $WorkingDirectory = $empty) {
        $info = New-Object System.Diagnostics.ProcessStartInfo
        $info.FileName = $pwsh
        foreach ($a in @('-NoProfile', '-NonInteractive', '-ExecutionPolicy', 'Bypass') + $Arguments) {
            $info.ArgumentList.Add($a)
        }
        $info.UseShellExecute = $false
        $info.WorkingDirectory = $WorkingDirectory
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
        if (-not $p.WaitForExit(120000)) {
            $p.Kill($true)
            throw "pwsh $Arguments did not finish within 120 seconds"
        }
        $p.WaitForExit()
        [pscustomobject]@{ Status = $p.ExitCode; Out = $out.Result; Err = $err.Result }
    }

    # What puts the session in ConstrainedLanguage, as a policy would, and
    # proves it took effect: a .NET static call refused (97 where it was not).
    $constrained = '$ExecutionContext.SessionState.LanguageMode = ''ConstrainedLanguage''; ' +
        'try { [System.IO.Path]::GetTempPath() | Out-Null; exit 97 } catch { }; '
    # The arguments of pwsh that run SCRIPT in MODE: in FullLanguage with
    # -File, as the agents run one; in ConstrainedLanguage from a session put
    # in that mode (BODY runs it: $env:DRVFLIP_FLEET_SCRIPT names it).
    function Get-Launch([string] $Mode, [string] $Body) {
        if ($Mode -eq 'ConstrainedLanguage') { return @('-Command', $constrained + $Body) }
        return @('-Command', $Body)
    }

    # A script run with -File, as Intune and the Win32 app's commands run one
    # (in ConstrainedLanguage, run by a session in that mode). HOW may name
    # Culture, Mode, NoExe, Environment and WorkingDirectory.
    function Invoke-File([string] $Name, [hashtable] $How = @{}, [string] $Body = '& $env:DRVFLIP_FLEET_SCRIPT; exit $LASTEXITCODE') {
        $path = Join-Path $scripts $Name
        $mode = if ($How.Mode) { $How.Mode } else { 'FullLanguage' }
        $arguments = if ($mode -eq 'FullLanguage' -and -not $How.Hosted) { @('-File', $path) } else { Get-Launch $mode $Body }
        $environment = @{ DRVFLIP_FLEET_SCRIPT = $path }
        if ($How.Environment) { $environment += $How.Environment }
        $options = @{ Culture = 'tr-TR'; WorkingDirectory = $empty }
        foreach ($k in 'Culture', 'WorkingDirectory') { if ($How.$k) { $options[$k] = $How.$k } }
        Invoke-Pwsh $arguments @options -NoExe:([bool] $How.NoExe) -Environment $environment
    }

    # A remediation script run as Configuration Manager runs one: a failure is
    # a throw, and its exit code is not read (99 here means it threw).
    function Invoke-Hosted([string] $Name, [hashtable] $How = @{}) {
        $run = Invoke-File $Name ($How + @{ Hosted = $true }) 'try { & $env:DRVFLIP_FLEET_SCRIPT } catch { exit 99 }; exit 0'
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
    function Invoke-Intune([string] $Command, [hashtable] $How = @{}) {
        $r = [ordered]@{ Detect = (Invoke-File "intune-detect-$Command.ps1" $How); Remediate = $null; Post = $null }
        if ($r.Detect.Status -eq 0) { $r.State = 'without issues' }
        elseif ($r.Detect.Status -ne 1) { $r.State = 'detection failed' }
        else {
            $r.Remediate = Invoke-File "intune-remediate-$Command.ps1" $How
            $r.Post = Invoke-File "intune-detect-$Command.ps1" $How
            $r.State = if ($r.Post.Status -eq 0) { 'issue fixed' } else { 'issue not fixed' }
        }
        [pscustomobject] $r
    }

    # A required Intune Win32 app: detected where its custom detection script
    # exits 0 and writes a string on standard output; where it is not, the
    # install command runs (the remediation script, with -File), its exit code
    # read as a Win32 app reads one, and detection runs again.
    function Invoke-Win32App([string] $Command, [hashtable] $How = @{}) {
        $detected = { param($run) $run.Status -eq 0 -and $run.Out.Length -gt 0 }
        $r = [ordered]@{ Detect = (Invoke-File "intune-app-detect-$Command.ps1" $How); Install = $null; Post = $null }
        if (& $detected $r.Detect) { $r.State = 'installed' }
        else {
            $r.Install = Invoke-File "intune-remediate-$Command.ps1" $How
            $result = @{ 0 = 'success'; 1707 = 'success'; 3010 = 'soft reboot'; 1641 = 'hard reboot'; 1618 = 'retry' }[$r.Install.Status]
            if (-not $result) { $r.State = 'install failed' }
            elseif ($result -ne 'success') { $r.State = $result }
            else {
                $r.Post = Invoke-File "intune-app-detect-$Command.ps1" $How
                $r.State = if (& $detected $r.Post) { 'installed' } else { 'not detected after install' }
            }
        }
        [pscustomobject] $r
    }

    # Configuration Manager: discovery must exit 0; its value is compared with
    # Equals "compliant"; remediation runs only where it differs, fails by
    # throwing; then discovery runs again.
    function Invoke-ConfigMgr([string] $Command, [hashtable] $How = @{}) {
        $r = [ordered]@{ Discover = (Invoke-File "configmgr-discover-$Command.ps1" $How); Remediate = $null; Post = $null }
        $value = { param($run) ($run.Out -replace "`r?`n$", '') }
        if ($r.Discover.Status -ne 0) { $r.State = 'discovery failure' }
        elseif ((& $value $r.Discover) -ceq 'compliant') { $r.State = 'compliant' }
        else {
            $r.Remediate = Invoke-Hosted "configmgr-remediate-$Command.ps1" $How
            $r.Post = Invoke-File "configmgr-discover-$Command.ps1" $How
            if ($r.Post.Status -ne 0) { $r.State = 'discovery failure' }
            elseif ($r.Remediate.Threw) { $r.State = 'remediation failed' }
            elseif ((& $value $r.Post) -ceq 'compliant') { $r.State = 'remediated' }
            else { $r.State = 'non-compliant' }
        }
        [pscustomobject] $r
    }

    # Exactly one line on standard output, LINE (a pattern where -Like), and
    # nothing on standard error; with -OnError, LINE on standard error too: as
    # it stands in FullLanguage; in ConstrainedLanguage (MODE), once inside
    # PowerShell's error text, which wraps it (compared without white space,
    # colours and the frame's bars).
    function Assert-OneLine($Run, [string] $Line, [switch] $Like, [switch] $OnError, [string] $Mode = 'FullLanguage') {
        if (-not $OnError) { $Run.Err | Should -BeNullOrEmpty }
        elseif ($Mode -eq 'FullLanguage') { $Run.Err | Should -BeExactly ($Line + [Environment]::NewLine) }
        else {
            $bare = { param($text) $text -replace "`e\[[0-9;]*m", '' -replace '[\s|]', '' }
            ((& $bare $Run.Err) -split [regex]::Escape((& $bare $Line))).Count | Should -Be 2 -Because "standard error was: $($Run.Err)"
        }
        $lines = @($Run.Out -split "`r?`n" | Select-Object -SkipLast 1)
        $lines.Count | Should -Be 1 -Because "the output was: $($Run.Out)"
        if ($Like) { $lines[0] | Should -BeLikeExactly $Line } else { $lines[0] | Should -BeExactly $Line }
        $Run.Out | Should -BeExactly ($lines[0] + [Environment]::NewLine)
    }

    # Nothing on either stream, and STATUS: a detection that detects nothing.
    function Assert-Silent($Run, [int] $Status) {
        $Run.Out | Should -BeNullOrEmpty
        $Run.Err | Should -BeNullOrEmpty
        $Run.Status | Should -Be $Status
    }

    function Lab { & $lab @args | Out-Null }
    # The lab's reader 0, present, with TYPE active and no behaviour value set
    # (made again where it does not say so at once: a request that a test left
    # held may still be ending).
    function Reset-Reader([string] $Active) {
        foreach ($try in 1..3) {
            & $lab remove 0 *> $null
            Lab add 0
            foreach ($value in 'ApiVersion', 'ActiveStatus', 'SetStatus', 'SetKeep', 'InfoHold') { Lab unset 0 $value }
            $said = & $lab run $Active.ToLowerInvariant() 2>&1
            if ($LASTEXITCODE -eq 0 -and ($said -ceq "Currently activated driver type: $Active")) { return }
        }
        throw "the lab's reader does not run $Active"
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

Describe 'The culture and the language mode take effect in the scripts'' PowerShell' {
    It '<_>' -ForEach $cultures {
        $run = Invoke-Pwsh @('-Command', '"{0}|{1}" -f [cultureinfo]::CurrentCulture.Name, "I".ToLower()') -Culture $_
        $want = @{ 'tr-TR' = 'tr-TR|ı'; 'en-US' = 'en-US|i'; 'invariant' = '|i' }[$_]
        $run.Out.Trim() | Should -BeExactly $want
    }
    It 'ConstrainedLanguage, a .NET static call refused' {
        $run = Invoke-Pwsh (Get-Launch 'ConstrainedLanguage' '$ExecutionContext.SessionState.LanguageMode')
        $run.Status | Should -Be 0
        $run.Out.Trim() | Should -BeExactly 'ConstrainedLanguage'
    }
}

# What a script makes of drvflip's output: one line of printable ASCII.
Describe 'The one line' {
    BeforeAll { . (Join-Path $PSScriptRoot '../../fleet/run.ps1') }
    It '<Why>' -ForEach @(
        @{ Why = 'line breaks become one space'; Text = "a`r`n`r`nb`n"; Line = 'a b' }
        @{ Why = 'NUL, ESC and tabs become a space'; Text = "a`0b`e[31mc`td"; Line = 'a b [31mc d' }
        @{ Why = 'U+0085 and other characters outside ASCII become ?'; Text = "a$([char]0x85)b$([char]0x131)"; Line = 'a?b?' }
        @{ Why = '400 characters are kept, not 401'; Text = ('x' * 399) + 'yz'; Line = ('x' * 399) + 'y' }
    ) {
        Get-OneLine $Text | Should -BeExactly $Line
    }
}

# Each outcome under each agent: Intune Remediations, a required Intune Win32
# app, Configuration Manager. In the texts {0} stands for the command, {1} for
# the other type, {2} for the wanted type and {3} for the exe where the scripts
# look for it. Query: what detection says of the reader, after "compliant: ",
# "not compliant: ", "detected: "; Compliant: whether that needs nothing done.
# Then either Switched, what the switch ends with ("switched: "), or Failed
# ("failed: "), which the Intune remediation writes on standard error too.
Describe 'Each agent, wanting <Type> (<Mode>)' -ForEach $wantsAndModes {
    It '<Case>' -ForEach @(
        @{ Case = 'the reader runs the wanted type (tr-TR)'; Active = 'Type'; Query = 'the reader runs {2}'; Compliant = $true }
        @{ Case = 'the reader runs the other type (tr-TR)'; Query = 'the reader runs {1}'; Switched = 'the reader runs {2}' }
        @{ Case = 'the reader runs the other type (en-US)'; Culture = 'en-US'; Query = 'the reader runs {1}'; Switched = 'the reader runs {2}' }
        @{ Case = 'the reader runs the other type (invariant)'; Culture = 'invariant'; Query = 'the reader runs {1}'; Switched = 'the reader runs {2}' }
        @{ Case = 'no reader'; Active = $null; Query = 'no reader attached'; Compliant = $true }
        @{ Case = 'the exe missing'; NoExe = $true; Query = 'drvflip.exe is not at {3}'; Failed = 'drvflip.exe is not at {3}' }
        @{ Case = 'no Program Files of a full path, and an exe in the current folder where one would lead'; Root = 'pf'
            Query = 'drvflip.exe is not at Program Files\drvflip\drvflip.exe: neither ProgramW6432 nor ProgramFiles names a full path'
            Failed = 'drvflip.exe is not at Program Files\drvflip\drvflip.exe: neither ProgramW6432 nor ProgramFiles names a full path' }
        @{ Case = 'a refused API version'; Setting = 'ApiVersion'; Value = '0x00020000'
            Query = 'drvflip query failed with status 1 (ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.)'
            Failed = 'drvflip {0} failed with status 1 (ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.)' }
        @{ Case = 'a failed read'; Setting = 'ActiveStatus'; Value = '0xC0000010'
            Query = 'drvflip query failed with status 1 (ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.)'
            Failed = 'drvflip {0} did not read back the type now active (ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.)' }
        @{ Case = 'a refused set request'; Setting = 'SetStatus'; Value = '0xC00000BB'; Query = 'the reader runs {1}'
            Failed = 'drvflip {0} failed with status 1 (ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.)' }
        @{ Case = 'a set request taken and not carried out'; Setting = 'SetKeep'; Value = '1'; Query = 'the reader runs {1}'
            Failed = 'the reader runs {1} after drvflip {0}' }
    ) {
        $how = @{ Mode = $Mode; Culture = $Culture; NoExe = $NoExe }
        if ($Root) {
            # A Program Files that leads from the current folder to a working exe.
            $decoy = Join-Path $empty 'decoy'
            $exe = Join-Path $decoy "$Root/drvflip/drvflip.exe"
            New-Item -ItemType Directory -Force -Path (Split-Path $exe) | Out-Null
            Copy-Item -LiteralPath (Join-Path $programFiles 'drvflip/drvflip.exe') -Destination $exe
            & chmod +x $exe
            $how += @{ Environment = @{ ProgramW6432 = $Root; ProgramFiles = '' }; WorkingDirectory = $decoy }
        }
        $f = { param($text) $text -f $Command, $Other, $Type, "$empty/drvflip/drvflip.exe" }
        $query = & $f $Query
        # The reader as the case has it, before each agent (a switch changes it).
        $noReader = $PSItem.ContainsKey('Active') -and $null -eq $Active
        $reader = { if ($noReader) { Lab remove 0 } else { Reset-Reader @{ $true = $Type; $false = $Other }[$Active -eq 'Type'] }
            if ($Setting) { Lab set 0 $Setting $Value } }
        & $reader; $i = Invoke-Intune $Command $how
        & $reader; $w = Invoke-Win32App $Command $how
        & $reader; $c = Invoke-ConfigMgr $Command $how
        if ($Root) { Remove-Item -LiteralPath $decoy -Recurse -Force }
        if ($Compliant) {
            $i.State, $w.State, $c.State | Should -Be 'without issues', 'installed', 'compliant'
            Assert-OneLine $i.Detect "compliant: $query"
            Get-PortalLine $i.Detect | Should -BeExactly "compliant: $query"
            Assert-OneLine $w.Detect "detected: $query"
            Assert-OneLine $c.Discover 'compliant'
            @($i.Remediate, $w.Install, $c.Remediate | Where-Object { $_ }).Count | Should -Be 0
            return
        }
        Assert-OneLine $i.Detect "not compliant: $query"
        $i.Detect.Status | Should -Be 1
        Assert-Silent $w.Detect 1
        Assert-OneLine $c.Discover "noncompliant: $query"
        $c.Discover.Status | Should -Be 0
        if ($Switched) {
            $done = & $f $Switched
            $i.State, $w.State, $c.State | Should -Be 'issue fixed', 'installed', 'remediated'
            foreach ($run in $i.Remediate, $w.Install, $c.Remediate) { Assert-OneLine $run "switched: $done" }
            $i.Remediate.Status, $w.Install.Status | Should -Be 0, 0
            Assert-OneLine $i.Post "compliant: $done"
            Assert-OneLine $w.Post "detected: $done"
            Assert-OneLine $c.Post 'compliant'
        } else {
            $failed = 'failed: ' + (& $f $Failed)
            $i.State, $w.State, $c.State | Should -Be 'issue not fixed', 'install failed', 'remediation failed'
            foreach ($run in $i.Remediate, $w.Install) { Assert-OneLine $run $failed -OnError -Mode $Mode; $run.Status | Should -Be 1 }
            Assert-OneLine $c.Remediate $failed
            $c.Remediate.Threw | Should -BeTrue
            Assert-OneLine $i.Post "not compliant: $query"
            Assert-OneLine $c.Post "noncompliant: $query"
        }
    }
    It 'no reader at remediation: nothing to switch, exit 0' {
        Lab remove 0
        $run = Invoke-File "intune-remediate-$Command.ps1" @{ Mode = $Mode }
        $run.Status | Should -Be 0
        Assert-OneLine $run 'nothing to switch: no reader attached'
    }
}

# drvflip waits for each request without a limit: a switch driver that never
# completes one is met by the scripts' own limit. Each script once, in one
# mode or the other (their waits are one piece of code).
Describe 'A switch driver that never answers: an answer within the time limit, and no drvflip left running' {
    It '<Name> (<Mode>)' -ForEach @(
        @{ Name = 'intune-detect-pcsc.ps1'; Mode = 'FullLanguage'; Status = 1; Line = 'not compliant: drvflip query did not finish within 30 seconds' }
        @{ Name = 'intune-remediate-pcsc.ps1'; Mode = 'ConstrainedLanguage'; Status = 1; OnError = $true; Line = 'failed: drvflip pcsc did not finish within 30 seconds' }
        @{ Name = 'configmgr-discover-pcsc.ps1'; Mode = 'ConstrainedLanguage'; Status = 0; Line = 'noncompliant: drvflip query did not finish within 30 seconds' }
        @{ Name = 'configmgr-remediate-pcsc.ps1'; Mode = 'FullLanguage'; Hosted = $true; Line = 'failed: drvflip pcsc did not finish within 30 seconds' }
        @{ Name = 'intune-app-detect-pcsc.ps1'; Mode = 'ConstrainedLanguage'; Status = 1 }
    ) {
        Reset-Reader 'TAVI'
        Lab set 0 InfoHold 1
        $started = Get-Date
        if ($Hosted) { $run = Invoke-Hosted $Name @{ Mode = $Mode }; $run.Threw | Should -BeTrue -Because "the run gave $($run.Status): $($run.Out) $($run.Err)" }
        else { $run = Invoke-File $Name @{ Mode = $Mode }; $run.Status | Should -Be $Status }
        ((Get-Date) - $started).TotalSeconds | Should -BeLessThan 45
        if ($Line) { Assert-OneLine $run $Line -OnError:([bool] $OnError) -Mode $Mode } else { Assert-Silent $run $Status }
        foreach ($i in 1..20) {
            $left = @(& ps -eo 'stat=,args=' | Where-Object { $_ -match 'drvflip\.exe' -and $_ -notmatch '^\s*Z' })
            if ($left.Count -eq 0) { break }
            Start-Sleep -Milliseconds 250
        }
        $left | Should -BeNullOrEmpty
    }
}

# Windows PowerShell 5.1 makes a native program's standard error throw under
# Stop; pwsh 7 never does. $PSNativeCommandUseErrorActionPreference makes a
# native call that exits non-zero throw instead: a script that ran drvflip as
# a native command (& $exe query 2>&1) fails here as it would under 5.1.
Describe 'Under $ErrorActionPreference = Stop, drvflip''s standard error and status throw nothing (<Mode>)' -ForEach $modeRows {
    It '<Name>' -ForEach @(
        @{ Name = 'intune-detect-pcsc.ps1'; Line = 'not compliant: drvflip query failed with status 1 ({0})' }
        @{ Name = 'configmgr-discover-pcsc.ps1'; Line = 'noncompliant: drvflip query failed with status 1 ({0})' }
        @{ Name = 'intune-app-detect-pcsc.ps1'; Line = $null }
        @{ Name = 'intune-remediate-pcsc.ps1'; Line = 'failed: drvflip pcsc failed with status 1 ({0})'; OnError = $true }
    ) {
        Reset-Reader 'PCSC'
        Lab set 0 ApiVersion 0x00020000
        $strict = "`$ErrorActionPreference = 'Stop'; `$PSNativeCommandUseErrorActionPreference = `$true; "
        $run = Invoke-Pwsh (Get-Launch $Mode ($strict + '& $env:DRVFLIP_FLEET_SCRIPT; exit $LASTEXITCODE')) `
            -Environment @{ DRVFLIP_FLEET_SCRIPT = (Join-Path $scripts $Name) }
        $refused = 'ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.'
        if ($null -eq $Line) { Assert-Silent $run 1 }
        else { Assert-OneLine $run ($Line -f $refused) -OnError:([bool] $OnError) -Mode $Mode }
    }
}
