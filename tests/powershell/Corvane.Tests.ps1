# The Corvane module against the Linux program on copies of simulated machines (run.ps1 runs it).
param([string]$Binary, [string]$Source)

BeforeAll {
    Import-Module (Join-Path $Source 'powershell/Corvane/Corvane.psd1') -Force
    # No CORVANE_ variable of the caller's; a private runtime folder and an empty tree, so that
    # no run reaches the user's or the computer's own.
    Get-ChildItem env:CORVANE_* | Remove-Item
    $work = Join-Path ([IO.Path]::GetTempPath()) ('corvane-ps-' + [guid]::NewGuid().ToString('N'))
    $env:XDG_RUNTIME_DIR = (New-Item -ItemType Directory (Join-Path $work runtime)).FullName
    chmod 700 $env:XDG_RUNTIME_DIR
    $env:CORVANE_FIRMWARE_ATTRIBUTES = (New-Item -ItemType Directory (Join-Path $work no-tree)).FullName
    $PSDefaultParameterValues = @{ '*-Corvane*:Executable' = $Binary; '*-Corvane*:Confirm' = $false }

    # A copy of machines/NAME.json that the runs use from now on; answers its folder.
    function New-Machine([string]$Name) {
        $folder = New-Item -ItemType Directory (Join-Path $work ([guid]::NewGuid().ToString('N')))
        Copy-Item (Join-Path $Source "machines/$Name.json") $folder
        $env:CORVANE_MACHINE = Join-Path $folder "$Name.json"
        return $folder.FullName
    }
    # A REPSET file of the blocks given (a name line, then values after `t).
    function New-Baseline([string]$Text) {
        $path = Join-Path (Split-Path $env:CORVANE_MACHINE) 'baseline.txt'
        [IO.File]::WriteAllText($path, "English`n$Text`n")
        return $path
    }
    function Secure([string]$Text) { ConvertTo-SecureString $Text -AsPlainText -Force }
    function Get-Value([string]$Name) { (Get-CorvaneSetting -Name $Name).Value }
    $drift = "USB Storage Boot`n`t*Disable`n`tEnable"
}

AfterAll {
    Remove-Item -Recurse -Force $work
}

Describe 'Get-CorvaneSetting' {
    It 'reads every setting with its kind, choices and whether it can be written' {
        New-Machine notebook
        $settings = Get-CorvaneSetting -Verbose 4>&1
        $settings[0] | Should -Match 'Running .*corvane /GetConfig'
        $byName = @{}
        $settings | Where-Object Name | ForEach-Object { $byName[$_.Name] = $_ }
        $byName['Fast Boot'] | Select-Object Value, Kind, ReadOnly | Should -BeLike '@{Value=Enable; Kind=Enumeration; ReadOnly=False}'
        $byName['Fast Boot'].Choices | Should -Be @('Disable', 'Enable')
        $byName['Serial Number'] | Select-Object Value, Kind, ReadOnly | Should -BeLike '@{Value=5CL8450QXR; Kind=Value; ReadOnly=True}'
        $byName['UEFI Boot Order'].Kind | Should -Be 'OrderedList'
        (Get-CorvaneSetting -Name '*Boot', 'Bluetooth').Name | Should -Be @('Secure Boot', 'Fast Boot', 'USB Storage Boot', 'Network (PXE) Boot', 'Startup Menu on Boot', 'Bluetooth')
    }

    It 'fails as an error with the code when the program is missing or answers nothing' {
        New-Machine notebook
        { Get-CorvaneSetting -Executable (Join-Path $work 'none') -ErrorAction Stop } | Should -Throw -ErrorId 'CorvaneProgramNotFound,Get-CorvaneSetting'
        $env:CORVANE_MACHINE = Join-Path $Source 'tests/e2e/scenarios/dell/empty-interface.json'
        Get-CorvaneSetting -ErrorVariable failure -ErrorAction SilentlyContinue | Should -BeNullOrEmpty
        $failure[0].FullyQualifiedErrorId | Should -BeLike 'Corvane16,*'
        $failure[0].Exception.Data['ExitCode'] | Should -Be 16
    }
}

Describe 'Test-CorvaneBaseline' {
    It '<case>' -ForEach @(
        @{ case = 'a matching machine has no findings'; text = "Fast Boot`n`t*Enable"; findings = @(); quiet = $true }
        @{ case = 'a difference is a finding and not compliant'; text = "Fast Boot`n`t*Disable"; findings = @('Fast Boot Differs Enable Disable'); quiet = $false }
        @{ case = "other models' names and values are findings and compliant"; text = "Secure Boot`n`t*Enabled`nSecureBoot`n`t*Enable"
            findings = @('Secure Boot Invalid Enable Enabled', 'SecureBoot Unknown  '); quiet = $true }
    ) {
        New-Machine notebook
        $path = New-Baseline $text
        @(Test-CorvaneBaseline -Path $path | ForEach-Object { "$($_.Name) $($_.Status) $($_.Current) $($_.Wanted)" }) | Should -Be $findings
        Test-CorvaneBaseline $path -Quiet | Should -Be $quiet
    }

    It 'could not tell: an error carrying the record and code, also with -Quiet' {
        New-Machine notebook
        $missing = Join-Path $work 'missing.txt'
        { Test-CorvaneBaseline $missing -Quiet -ErrorAction Stop } | Should -Throw -ErrorId 'Corvane11,Test-CorvaneBaseline' -ExpectedMessage "*REPSET file, '$missing' not found or empty.*"
    }
}

Describe 'Set-CorvaneBaseline' {
    It 'applies the baseline with the password that the firmware takes' {
        New-Machine notebook-password
        $path = New-Baseline $drift
        $changes = Set-CorvaneBaseline -Path $path -Password (Secure 'wrong'), (Secure 'Lumo-1234')
        $changes | Select-Object Name, Passed, Previous, Value, RestartRequired | Should -BeLike '@{Name=USB Storage Boot; Passed=True; Previous=Enable; Value=Disable; RestartRequired=False}'
        Test-CorvaneBaseline $path -Quiet | Should -BeTrue
    }

    It 'without the password: an error, nothing changed; -WhatIf changes nothing' {
        New-Machine notebook-password
        $path = New-Baseline $drift
        Set-CorvaneBaseline -Path $path -ErrorVariable failure -ErrorAction SilentlyContinue
        $failure[0].FullyQualifiedErrorId | Should -BeLike 'Corvane10,*'
        $failure[0].Exception.Message | Should -BeLike '*no valid current admin password provided*'
        Set-CorvaneBaseline -Path $path -Password (Secure 'Lumo-1234') -WhatIf | Should -BeNullOrEmpty
        Test-CorvaneBaseline $path -Quiet | Should -BeFalse
    }

    It 'says when the changes wait for a restart' {
        New-Machine lenovo-notebook
        $change = Set-CorvaneBaseline -Path (New-Baseline "WakeOnLAN`n`t*Disable") -Password (Secure 'Think-2024')
        $change | Select-Object Name, Passed, RestartRequired | Should -BeLike '@{Name=WakeOnLAN; Passed=True; RestartRequired=True}'
    }
}

Describe 'Set-CorvanePassword' {
    It 'changes the password, which then unlocks changes, and removes it' {
        New-Machine notebook-password
        $path = New-Baseline $drift
        (Set-CorvanePassword -Password (Secure 'Lumo-1234') -NewPassword (Secure 'Lumo-5678')).PasswordSet | Should -BeTrue
        { Set-CorvanePassword -Password (Secure 'Lumo-1234') -Clear -ErrorAction Stop } | Should -Throw -ErrorId 'Corvane10,Set-CorvanePassword'
        (Set-CorvanePassword -Password (Secure 'Lumo-5678') -Clear).PasswordSet | Should -BeFalse
        (Set-CorvaneBaseline -Path $path).Passed | Should -BeTrue
    }

    It 'refuses a password that standard input cannot carry as one line' {
        New-Machine notebook-password
        { Set-CorvanePassword -Password (Secure "Lumo-1234`n/nspwd:") -NewPassword (Secure 'x') } | Should -Throw -ErrorId 'CorvanePasswordUnusable,Set-CorvanePassword'
    }
}

Describe 'Passwords' {
    It 'never reach a command line' {
        # A stand-in that records the command lines of PowerShell and of every process it started.
        $folder = New-Machine notebook-password
        $log = Join-Path $folder 'processes.log'
        $standIn = Join-Path $folder 'corvane'
        Set-Content $standIn "#!/bin/sh`nps -o args= -p `$PPID --ppid `$PPID >>'$log'`nexec '$Binary' `"`$@`""
        chmod 755 $standIn
        $path = New-Baseline $drift
        Set-CorvanePassword -Executable $standIn -Password (Secure 'Lumo-1234') -NewPassword (Secure 'Lumo-5678') | Should -Not -BeNullOrEmpty
        (Set-CorvaneBaseline -Executable $standIn -Path $path -Password (Secure 'Lumo-5678')).Passed | Should -BeTrue
        $listing = Get-Content -Raw $log
        $listing | Should -Match "corvane /pwdstdin /RestartCode:3010 /SetConfig:"
        $listing.Contains('Lumo-') | Should -BeFalse
    }
}

Describe 'New-CorvaneRemediation' {
    BeforeAll {
        # Runs a generated script as Intune does: its one line of output and its exit code.
        function Invoke-Script([string]$Path) {
            $output = @(& (Join-Path $PSHOME 'pwsh') -NoProfile -NonInteractive -File $Path)
            return "$LASTEXITCODE $($output -join '|')"
        }
    }

    It 'drift, remediation, compliant, with the password from <from>' -ForEach @(
        @{ from = 'a private file'; parameters = @{ PasswordFile = '{folder}/bios.pwd' } }
        @{ from = 'an environment variable'; parameters = @{ PasswordVariable = 'BIOS_PASSWORD' } }
        @{ from = 'a vault lookup'; parameters = @{ PasswordCommand = { ConvertTo-SecureString ('Lumo' + '-1234') -AsPlainText -Force } } }
    ) {
        $folder = New-Machine notebook-password
        $baseline = New-Baseline $drift
        $password = Join-Path $folder 'bios.pwd'
        Set-Content $password "wrong`nLumo-1234"
        chmod 600 $password
        if ($parameters.PasswordFile) { $parameters.PasswordFile = $password }
        $env:BIOS_PASSWORD = 'Lumo-1234'
        $scripts = New-CorvaneRemediation -Path $baseline -Destination (Join-Path $folder 'intune') -ProgramPath $Binary @parameters
        $scripts.Name | Should -Be @('Detect-CorvaneBaseline.ps1', 'Remediate-CorvaneBaseline.ps1')
        Get-Content -Raw $scripts.FullName | Should -Not -Match 'Lumo-1234'
        Invoke-Script $scripts[0].FullName | Should -Be '1 Not compliant: settings differ: 1 (USB Storage Boot)'
        Invoke-Script $scripts[1].FullName | Should -Be '0 Remediated: settings changed: 1 (USB Storage Boot)'
        Invoke-Script $scripts[0].FullName | Should -Be '0 Compliant'
        Remove-Item env:BIOS_PASSWORD
    }

    It 'refuses a password file that others may read, and tells what it could not check' {
        $folder = New-Machine notebook-password
        $password = Join-Path $folder 'bios.pwd'
        Set-Content $password 'Lumo-1234'
        chmod 644 $password
        $scripts = New-CorvaneRemediation (New-Baseline $drift) (Join-Path $folder 'intune') -ProgramPath $Binary -PasswordFile $password
        Invoke-Script $scripts[1].FullName | Should -Be "2 Not remediated: others may read the password file $password"
        $env:CORVANE_MACHINE = Join-Path $folder 'missing.json'
        Invoke-Script $scripts[0].FullName | Should -Be '2 Could not tell: Corvane ended with 2'
    }
}

Describe 'docs/fleets.md' {
    BeforeDiscovery {
        # Each PowerShell snippet of the document, with what it prints (joined by |) and its exit
        # code, run where the module, the program and a baseline that the machine differs from lie.
        $snippets = [regex]::Matches((Get-Content -Raw (Join-Path $Source 'docs/fleets.md')), '(?ms)^```powershell\n(.*?)^```') |
            ForEach-Object { $_.Groups[1].Value }
        $expected = @('1 Not compliant', '0 *Name*: USB Storage Boot|Passed*: True*', '0 *intune*Detect-Corvane*Remediate-Corvan*',
            '0 Noncompliant', '0 *Fast Boot*Disable*USB Storage Boot*Differs*Enable*Disable*')
        $cases = for ($i = 0; $i -lt [Math]::Max($snippets.Count, $expected.Count); $i++) { @{ number = $i + 1; snippet = $snippets[$i]; wanted = $expected[$i] } }
    }

    It 'snippet <number> runs' -ForEach $cases {
        $folder = New-Machine notebook-password
        New-Baseline $drift
        Copy-Item -Recurse (Join-Path $Source 'powershell/Corvane') $folder
        ln -s $Binary (Join-Path $folder 'corvane')
        $script = Join-Path $folder 'snippet.ps1'
        Set-Content $script "`$PSStyle.OutputRendering = 'PlainText'; `$biosPassword = ConvertTo-SecureString 'Lumo-1234' -AsPlainText -Force`n$snippet"
        $output = @(& (Join-Path $PSHOME 'pwsh') -NoProfile -NonInteractive -File $script | ForEach-Object { "$_".Trim() } | Where-Object { $_ })
        "$LASTEXITCODE $($output -join '|')" | Should -BeLike $wanted
    }
}
