#Requires -Version 5.1
# BIOS setup settings from PowerShell, around the Corvane program: its result log becomes
# objects, its exit codes become results or errors, passwords reach it on standard input only.
# Runs on Windows PowerShell 5.1 and PowerShell 7, so no ??, ?., ternaries or pipeline chains.

# The code Set-CorvaneBaseline and Set-CorvanePassword ask for when changes wait for a restart;
# the translation record's real code carries it whole, whatever TivErr.cfg maps it to.
$script:RestartCode = 3010
$script:FileUnreadable = 11
$script:ProgramMissing = 'CorvaneProgramNotFound'

function Test-CorvaneWindows {
    # $IsWindows does not exist in Windows PowerShell 5.1, which runs on Windows alone.
    return ($PSVersionTable.PSEdition -eq 'Desktop') -or [bool](Get-Variable IsWindows -ValueOnly -ErrorAction SilentlyContinue)
}

function Get-CorvaneEncoding {
    # The program reads and writes narrow text in the system code page on Windows, UTF-8 elsewhere.
    if (Test-CorvaneWindows) {
        try {
            return [Text.Encoding]::GetEncoding([Globalization.CultureInfo]::CurrentCulture.TextInfo.ANSICodePage)
        } catch {
            return [Text.Encoding]::Default
        }
    }
    return New-Object Text.UTF8Encoding $false
}

function Resolve-CorvaneProgram {
    param([string]$Executable, [System.Management.Automation.PSCmdlet]$Cmdlet)
    if ($Executable) {
        $found = Get-Command -Name $Executable -CommandType Application -ErrorAction SilentlyContinue |
            Select-Object -First 1
        if ($found) { return $found.Source }
    } else {
        # Beside the module, or in the folder that holds it (the release's zip).
        if (Test-CorvaneWindows) {
            $names = @('Corvane.exe')
            if ([Environment]::Is64BitOperatingSystem) { $names = @('Corvane64.exe', 'Corvane.exe') }
        } else {
            $names = @('corvane')
        }
        foreach ($folder in @($PSScriptRoot, (Split-Path -Parent $PSScriptRoot))) {
            foreach ($name in $names) {
                $candidate = Join-Path $folder $name
                if (Test-Path -LiteralPath $candidate -PathType Leaf) { return $candidate }
            }
        }
        if (-not (Test-CorvaneWindows)) {
            $found = Get-Command -Name corvane -CommandType Application -ErrorAction SilentlyContinue |
                Select-Object -First 1
            if ($found) { return $found.Source }
        }
        $Executable = $names[0]
    }
    $exception = New-Object IO.FileNotFoundException "The Corvane program '$Executable' was not found; name it with -Executable."
    $record = New-Object Management.Automation.ErrorRecord $exception, $script:ProgramMissing, 'ObjectNotFound', $Executable
    $Cmdlet.ThrowTerminatingError($record)
}

function Resolve-CorvaneFile {
    param([string]$Path, [System.Management.Automation.PSCmdlet]$Cmdlet)
    # The program gets a full file-system path: it does not know PowerShell's drives or location.
    return $Cmdlet.GetUnresolvedProviderPathFromPSPath($Path)
}

function ConvertTo-CorvaneInput {
    # The password options for /pwdstdin as the bytes of standard input: one option a line.
    # A SecureString's clear text is read character by character from a BSTR that is zeroed and
    # freed at once, so it never becomes a string.
    param([object[]]$Option, [Text.Encoding]$Encoding)
    $stream = New-Object IO.MemoryStream
    foreach ($entry in $Option) {
        $secret = $entry.Secret
        $chars = $null
        $bstr = [IntPtr]::Zero
        try {
            if ($secret -is [Security.SecureString]) {
                $chars = New-Object char[] $secret.Length
                $bstr = [Runtime.InteropServices.Marshal]::SecureStringToBSTR($secret)
                for ($i = 0; $i -lt $chars.Length; $i++) {
                    $chars[$i] = [char]([int][Runtime.InteropServices.Marshal]::ReadInt16($bstr, 2 * $i) -band 0xFFFF)
                }
            } else {
                $chars = ([string]$secret).ToCharArray()
            }
            if ([Array]::IndexOf($chars, [char]"`n") -ge 0 -or [Array]::IndexOf($chars, [char]"`r") -ge 0 -or [Array]::IndexOf($chars, [char]0) -ge 0) {
                throw (New-Object ArgumentException 'A password holds a line break or a zero character, which standard input cannot carry as one line.')
            }
            $line = New-Object char[] ($entry.Prefix.Length + $chars.Length + 1)
            try {
                $entry.Prefix.CopyTo(0, $line, 0, $entry.Prefix.Length)
                [Array]::Copy($chars, 0, $line, $entry.Prefix.Length, $chars.Length)
                $line[$line.Length - 1] = [char]"`n"
                $bytes = $Encoding.GetBytes($line)
                $stream.Write($bytes, 0, $bytes.Length)
                [Array]::Clear($bytes, 0, $bytes.Length)
            } finally {
                [Array]::Clear($line, 0, $line.Length)
            }
        } finally {
            if ($bstr -ne [IntPtr]::Zero) { [Runtime.InteropServices.Marshal]::ZeroFreeBSTR($bstr) }
            if ($chars) { [Array]::Clear($chars, 0, $chars.Length) }
        }
    }
    $result = $stream.ToArray()
    # MemoryStream.ToArray copied the bytes: the stream's own buffer is cleared too.
    $buffer = $stream.GetBuffer()
    [Array]::Clear($buffer, 0, $buffer.Length)
    return , $result
}

function ConvertTo-CorvaneArgument {
    # One argument as the C runtime's command-line parser reads it back (Windows and .NET alike).
    param([string]$Text)
    if ($Text.Length -gt 0 -and $Text -notmatch '[\s"]') { return $Text }
    $escaped = [regex]::Replace($Text, '(\\*)"', '$1$1\"')
    $escaped = [regex]::Replace($escaped, '(\\+)$', '$1$1')
    return '"' + $escaped + '"'
}

function Invoke-CorvaneProcess {
    # Runs the program with its arguments and the given standard input, which is cleared once
    # written. Answers the exit code and both outputs, line ends made LF.
    param([string]$Program, [string[]]$Arguments, [byte[]]$InputBytes, [Text.Encoding]$Encoding)
    $info = New-Object Diagnostics.ProcessStartInfo
    $info.FileName = $Program
    $info.Arguments = (@($Arguments | ForEach-Object { ConvertTo-CorvaneArgument $_ }) -join ' ')
    $info.UseShellExecute = $false
    $info.CreateNoWindow = $true
    $info.RedirectStandardInput = $true
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $info.StandardOutputEncoding = $Encoding
    $info.StandardErrorEncoding = $Encoding
    $process = [Diagnostics.Process]::Start($info)
    try {
        $outputTask = $process.StandardOutput.ReadToEndAsync()
        $errorTask = $process.StandardError.ReadToEndAsync()
        try {
            if ($InputBytes -and $InputBytes.Length) {
                $process.StandardInput.BaseStream.Write($InputBytes, 0, $InputBytes.Length)
                $process.StandardInput.BaseStream.Flush()
            }
        } catch [IO.IOException] {
            # The program ended without reading its input; its output says why.
        } finally {
            if ($InputBytes) { [Array]::Clear($InputBytes, 0, $InputBytes.Length) }
            try { $process.StandardInput.Close() } catch [IO.IOException] { }
        }
        $process.WaitForExit()
        return [pscustomobject]@{
            ExitCode = $process.ExitCode
            Output   = $outputTask.Result.Replace("`r`n", "`n")
            Error    = $errorTask.Result.Replace("`r`n", "`n")
        }
    } finally {
        $process.Dispose()
    }
}

function Get-CorvaneResultCode {
    # The run's own code: the translation record's real one, which TivErr.cfg does not change
    # and which is whole where an exit status keeps only 8 bits; else the exit code.
    param([string]$Output, [int]$ExitCode)
    $match = [regex]::Match($Output, '<Warning msg="Tiv return value" real="(-?\d+)" translated="-?\d+" />')
    if ($match.Success) { return [int]$match.Groups[1].Value }
    return $ExitCode
}

function Get-CorvaneValueText {
    param([string]$Text)
    $match = [regex]::Match($Text, '^(?s)<!\[CDATA\[(.*)\]\]>\s*$')
    if ($match.Success) { return $match.Groups[1].Value }
    return $Text.Trim()
}

function Read-CorvaneRecord {
    # The result log's records in order: SETTING (Status, Name, OldValue, NewValue), ERROR,
    # WARNING and SUCCESS (Message), and the REPSET text of a GETCONFIG element.
    param([string]$Output)
    $records = New-Object Collections.Generic.List[object]
    $getConfig = [regex]::Match($Output, '(?s)<GETCONFIG><!\[CDATA\[\n(.*?)\]\]></GETCONFIG>\n')
    $rest = $Output
    if ($getConfig.Success) {
        $records.Add([pscustomobject]@{ Kind = 'GetConfig'; Text = $getConfig.Groups[1].Value })
        $rest = $Output.Remove($getConfig.Index, $getConfig.Length)
    }
    $pattern = '(?s)<SETTING changeStatus="(?<status>\w+)" name="(?<name>[^"\n]*)"(?: />|>\s*<OLDVALUE>(?<old>.*?)</OLDVALUE>\s*<NEWVALUE>(?<new>.*?)</NEWVALUE>\s*</SETTING>)' +
        '|<(?<tag>ERROR|WARNING|SUCCESS) msg="(?<msg>[^"]*)" />|<ERROR type="failure">(?<failure>.*?)</ERROR>'
    foreach ($match in [regex]::Matches($rest, $pattern)) {
        if ($match.Groups['status'].Success) {
            $records.Add([pscustomobject]@{
                    Kind     = 'Setting'
                    Status   = $match.Groups['status'].Value
                    Name     = $match.Groups['name'].Value
                    OldValue = $(if ($match.Groups['old'].Success) { Get-CorvaneValueText $match.Groups['old'].Value } else { $null })
                    NewValue = $(if ($match.Groups['new'].Success) { Get-CorvaneValueText $match.Groups['new'].Value } else { $null })
                    Text     = $match.Value
                })
        } elseif ($match.Groups['tag'].Success) {
            $kind = $match.Groups['tag'].Value.Substring(0, 1) + $match.Groups['tag'].Value.Substring(1).ToLowerInvariant()
            $records.Add([pscustomobject]@{ Kind = $kind; Message = $match.Groups['msg'].Value.Trim(); Text = $match.Value })
        } else {
            $records.Add([pscustomobject]@{ Kind = 'Error'; Message = $match.Groups['failure'].Value.Trim(); Text = $match.Value })
        }
    }
    return , $records.ToArray()
}

function Invoke-Corvane {
    # One run of the program: the arguments, the password options for standard input (objects
    # with Prefix and Secret), and what came back as a run object.
    param([System.Management.Automation.PSCmdlet]$Cmdlet, [string]$Executable, [string[]]$Arguments,
        [object[]]$Option)
    $program = Resolve-CorvaneProgram -Executable $Executable -Cmdlet $Cmdlet
    $encoding = Get-CorvaneEncoding
    $inputBytes = $null
    if ($Option) {
        try {
            $inputBytes = ConvertTo-CorvaneInput -Option $Option -Encoding $encoding
        } catch {
            $record = New-Object Management.Automation.ErrorRecord $_.Exception, 'CorvanePasswordUnusable', 'InvalidArgument', $null
            $Cmdlet.ThrowTerminatingError($record)
        }
        $Arguments = @('/pwdstdin') + $Arguments
    }
    Write-Verbose ("Running $program " + ($Arguments -join ' '))
    try {
        $process = Invoke-CorvaneProcess -Program $program -Arguments $Arguments -InputBytes $inputBytes -Encoding $encoding
    } catch {
        # A program that cannot start here (a 32-bit one in 64-bit WinPE, a file that is no program).
        $record = New-Object Management.Automation.ErrorRecord $_.Exception, 'CorvaneProgramNotStarted', 'ResourceUnavailable', $program
        $Cmdlet.ThrowTerminatingError($record)
    }
    $code = Get-CorvaneResultCode -Output $process.Output -ExitCode $process.ExitCode
    Write-Verbose "Corvane ended with code $code (exit status $($process.ExitCode))."
    foreach ($line in $process.Error.Split("`n")) {
        if ($line.Trim()) { Write-Verbose $line }
    }
    return [pscustomobject]@{
        PSTypeName = 'Corvane.Run'
        Code       = $code
        ExitCode   = $process.ExitCode
        Records    = Read-CorvaneRecord -Output $process.Output
        Output     = $process.Output
        Error      = $process.Error
    }
}

function Write-CorvaneError {
    # A failed run as a PowerShell error: the program's own records and code in its message, the
    # code as the error's id (Corvane13) and in the exception's Data, the run as its target.
    param([System.Management.Automation.PSCmdlet]$Cmdlet, [object]$Run, [string]$Activity)
    $texts = @($Run.Records | Where-Object { $_.Kind -eq 'Error' -or $_.Kind -eq 'Warning' -or ($_.Kind -eq 'Setting' -and ($_.Status -eq 'fail' -or $_.Status -eq 'failed')) } |
            ForEach-Object { $_.Text.Trim() })
    if (-not $texts -and $Run.Error.Trim()) { $texts = @($Run.Error.Trim()) }
    $message = "$Activity`: Corvane ended with code $($Run.Code)."
    if ($texts) { $message += "`n" + ($texts -join "`n") }
    $category = switch ($Run.Code) {
        10 { 'PermissionDenied' }
        11 { 'ReadError' }
        12 { 'InvalidData' }
        13 { 'WriteError' }
        15 { 'InvalidArgument' }
        16 { 'DeviceError' }
        default { 'NotSpecified' }
    }
    $exception = New-Object InvalidOperationException $message
    $exception.Data['ExitCode'] = $Run.Code
    $exception.Data['Records'] = ($texts -join "`n")
    $record = New-Object Management.Automation.ErrorRecord $exception, "Corvane$($Run.Code)", $category, $Run
    $Cmdlet.WriteError($record)
}

function New-CorvanePasswordOption {
    param([string]$Prefix, [object[]]$Secret)
    foreach ($item in $Secret) { [pscustomobject]@{ Prefix = $Prefix; Secret = $item } }
}

function Test-CorvaneRestart {
    param([object]$Run)
    # Where the translation record is missing an exit status of 8 bits keeps the low byte.
    return ($Run.Code -eq $script:RestartCode) -or
        (-not (Test-CorvaneWindows) -and $Run.Code -eq $Run.ExitCode -and $Run.ExitCode -eq ($script:RestartCode -band 255))
}

function Read-CorvaneRepset {
    # Settings of REPSET text: a name line, then its value lines, each after one tab. A list
    # marks its current choice with an asterisk; several lines without one are an order.
    param([string]$Text)
    $settings = New-Object Collections.Generic.List[object]
    $current = $null
    foreach ($line in ($Text.Replace("`r`n", "`n").Split("`n") | Select-Object -Skip 1)) {
        if ($line.StartsWith("`t")) {
            if ($current) { $current.Lines.Add($line.Substring(1)) }
        } elseif ($line.Length) {
            $current = [pscustomobject]@{ Name = $line; Lines = (New-Object Collections.Generic.List[string]) }
            $settings.Add($current)
        }
    }
    foreach ($setting in $settings) {
        $lines = @($setting.Lines)
        $starred = @($lines | Where-Object { $_.StartsWith('*') })
        if ($starred.Count) {
            $kind = 'Enumeration'
            $choices = @($lines | ForEach-Object { $_.TrimStart('*') })
            $value = $starred[0].Substring(1)
        } elseif ($lines.Count -gt 1) {
            $kind = 'OrderedList'
            $choices = $lines
            $value = $lines
        } else {
            $kind = 'Value'
            $choices = @()
            $value = $(if ($lines.Count) { $lines[0] } else { '' })
        }
        [pscustomobject]@{ Name = $setting.Name; Value = $value; Choices = $choices; Kind = $kind }
    }
}

function Get-CorvaneWritable {
    # Which settings the program would write: a /CheckConfig (which changes nothing) of a value
    # no setting holds reports every writable setting and passes over the read-only ones.
    param([System.Management.Automation.PSCmdlet]$Cmdlet, [string]$Executable, [object[]]$Setting, [object[]]$Option)
    $probe = [IO.Path]::GetTempFileName()
    try {
        # A list's value is the choice marked with an asterisk.
        $text = "English`n" + (@($Setting | ForEach-Object {
                    $mark = $(if ($_.Kind -eq 'Enumeration') { '*' } else { '' })
                    "$($_.Name)`n`t$mark~corvane-probe~`n"
                }) -join '')
        [IO.File]::WriteAllText($probe, $text, (Get-CorvaneEncoding))
        $run = Invoke-Corvane -Cmdlet $Cmdlet -Executable $Executable -Arguments @("/CheckConfig:$probe") -Option $Option
    } finally {
        Remove-Item -LiteralPath $probe -ErrorAction SilentlyContinue
    }
    if (@(0, 20, 21) -notcontains $run.Code) { return $null }
    $writable = @{}
    foreach ($record in $run.Records) {
        if ($record.Kind -eq 'Setting' -and $record.Status -ne 'unknown') { $writable[$record.Name] = $true }
    }
    return $writable
}

function Get-CorvaneSetting {
    <#
    .SYNOPSIS
    The machine's BIOS settings as objects (Name, Value, Choices, Kind, ReadOnly).
    .DESCRIPTION
    Reads the settings with /GetConfig. Kind is Enumeration (Value is one of Choices),
    OrderedList (Value is the order of its elements) or Value (a text or a number). ReadOnly
    comes from a /CheckConfig that changes nothing; it is $null when that check could not tell.
    .EXAMPLE
    Get-CorvaneSetting -Name '*Boot*'
    #>
    [CmdletBinding()]
    [OutputType('Corvane.Setting')]
    param(
        [Parameter(Position = 0)][SupportsWildcards()][string[]]$Name = @('*'),
        [Security.SecureString[]]$Password,
        [string]$Executable
    )
    $option = @(New-CorvanePasswordOption -Prefix '/cspwd:' -Secret $Password)
    $run = Invoke-Corvane -Cmdlet $PSCmdlet -Executable $Executable -Arguments @('/GetConfig') -Option $option
    $text = @($run.Records | Where-Object { $_.Kind -eq 'GetConfig' })
    if ($run.Code -ne 0 -or -not $text) {
        Write-CorvaneError -Cmdlet $PSCmdlet -Run $run -Activity 'Reading the BIOS settings'
        return
    }
    $settings = @(Read-CorvaneRepset -Text $text[0].Text | Where-Object {
            $settingName = $_.Name
            @($Name | Where-Object { $settingName -like $_ }).Count -gt 0
        })
    if (-not $settings) { return }
    $writable = Get-CorvaneWritable -Cmdlet $PSCmdlet -Executable $Executable -Setting $settings -Option $option
    foreach ($setting in $settings) {
        $readOnly = $null
        if ($null -ne $writable) { $readOnly = -not $writable.ContainsKey($setting.Name) }
        [pscustomobject]@{
            PSTypeName = 'Corvane.Setting'
            Name       = $setting.Name
            Value      = $setting.Value
            Choices    = $setting.Choices
            Kind       = $setting.Kind
            ReadOnly   = $readOnly
        }
    }
}

function Test-CorvaneBaseline {
    <#
    .SYNOPSIS
    Compares the machine with a REPSET baseline, changing nothing.
    .DESCRIPTION
    Runs /CheckConfig and returns one object per finding (Name, Status = Differs, Invalid or
    Unknown, Current, Wanted), nothing when the machine matches. With -Quiet it returns $true
    when the machine matches, counting names the machine lacks and values it cannot take as
    matching (a baseline for several models), and $false when a setting differs. A check that
    could not tell is an error.
    .EXAMPLE
    if (Test-CorvaneBaseline -Path .\baseline.txt -Quiet) { 'Compliant' }
    #>
    [CmdletBinding()]
    [OutputType('Corvane.Finding', [bool])]
    param(
        [Parameter(Mandatory, Position = 0)][string]$Path,
        [switch]$Quiet,
        [Security.SecureString[]]$Password,
        [string]$Executable
    )
    $file = Resolve-CorvaneFile -Path $Path -Cmdlet $PSCmdlet
    $option = @(New-CorvanePasswordOption -Prefix '/cspwd:' -Secret $Password)
    $run = Invoke-Corvane -Cmdlet $PSCmdlet -Executable $Executable -Arguments @("/CheckConfig:$file") -Option $option
    if (@(0, 20, 21) -notcontains $run.Code) {
        Write-CorvaneError -Cmdlet $PSCmdlet -Run $run -Activity "Checking the baseline $file"
        return
    }
    if ($Quiet) { return ($run.Code -ne 20) }
    $statuses = @{ differs = 'Differs'; invalid = 'Invalid'; unknown = 'Unknown' }
    foreach ($record in $run.Records) {
        if ($record.Kind -ne 'Setting' -or -not $statuses.ContainsKey($record.Status)) { continue }
        [pscustomobject]@{
            PSTypeName = 'Corvane.Finding'
            Name       = $record.Name
            Status     = $statuses[$record.Status]
            Current    = $record.OldValue
            Wanted     = $record.NewValue
        }
    }
}

function Set-CorvaneBaseline {
    <#
    .SYNOPSIS
    Applies a REPSET baseline: changes what differs and reads every change back.
    .DESCRIPTION
    Runs /SetConfig with the passwords on standard input and returns each changed setting
    (Name, Passed, Previous, Value, RestartRequired). RestartRequired is $true when the
    changes take effect only after a restart. A setting that did not take its value, a refused
    password or an unreadable file is an error carrying Corvane's records and code.
    .EXAMPLE
    Set-CorvaneBaseline -Path .\baseline.txt -Password $biosPassword
    #>
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'Medium')]
    [OutputType('Corvane.Change')]
    param(
        [Parameter(Mandatory, Position = 0)][string]$Path,
        [Security.SecureString[]]$Password,
        [string]$Executable
    )
    $file = Resolve-CorvaneFile -Path $Path -Cmdlet $PSCmdlet
    if (-not $PSCmdlet.ShouldProcess('BIOS settings', "Apply the baseline $file")) { return }
    $option = @(New-CorvanePasswordOption -Prefix '/cspwd:' -Secret $Password)
    $run = Invoke-Corvane -Cmdlet $PSCmdlet -Executable $Executable -Option $option `
        -Arguments @("/RestartCode:$script:RestartCode", "/SetConfig:$file")
    $restart = Test-CorvaneRestart -Run $run
    foreach ($record in $run.Records) {
        if ($record.Kind -ne 'Setting' -or $record.Status -eq 'unknown') { continue }
        [pscustomobject]@{
            PSTypeName      = 'Corvane.Change'
            Name            = $record.Name
            Passed          = ($record.Status -eq 'pass')
            Previous        = $record.OldValue
            Value           = $record.NewValue
            RestartRequired = $restart
        }
    }
    if ($run.Code -ne 0 -and -not $restart) {
        Write-CorvaneError -Cmdlet $PSCmdlet -Run $run -Activity "Applying the baseline $file"
    }
}

function Set-CorvanePassword {
    <#
    .SYNOPSIS
    Sets, changes or removes the BIOS setup password.
    .DESCRIPTION
    -Password gives the current password (several are tried in turn), -NewPassword the new one;
    -Clear removes the password. The passwords reach the program on standard input only.
    Returns an object with PasswordSet and RestartRequired. It asks for confirmation unless
    -Confirm:$false is given, as scripts that run unattended do.
    .EXAMPLE
    Set-CorvanePassword -Password $old -NewPassword $new -Confirm:$false
    #>
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'High', DefaultParameterSetName = 'Set')]
    [OutputType('Corvane.PasswordChange')]
    param(
        [Security.SecureString[]]$Password,
        [Parameter(Mandatory, ParameterSetName = 'Set')][Security.SecureString]$NewPassword,
        [Parameter(Mandatory, ParameterSetName = 'Clear')][switch]$Clear,
        [string]$Executable
    )
    $action = 'Change the BIOS setup password'
    $newSecret = $NewPassword
    if ($Clear) {
        $action = 'Remove the BIOS setup password'
        $newSecret = ''
    }
    if (-not $PSCmdlet.ShouldProcess('BIOS setup password', $action)) { return }
    $option = @(New-CorvanePasswordOption -Prefix '/cspwd:' -Secret $Password) +
        @(New-CorvanePasswordOption -Prefix '/nspwd:' -Secret @($newSecret))
    $run = Invoke-Corvane -Cmdlet $PSCmdlet -Executable $Executable -Option $option `
        -Arguments @("/RestartCode:$script:RestartCode")
    $restart = Test-CorvaneRestart -Run $run
    $changed = @($run.Records | Where-Object { $_.Kind -eq 'Success' }).Count -gt 0
    if (($run.Code -ne 0 -and -not $restart) -or -not $changed) {
        Write-CorvaneError -Cmdlet $PSCmdlet -Run $run -Activity $action
        return
    }
    [pscustomobject]@{
        PSTypeName      = 'Corvane.PasswordChange'
        PasswordSet     = (-not $Clear)
        RestartRequired = $restart
    }
}

# The scripts New-CorvaneRemediation writes: each stands alone (Intune runs a script without
# its module), carrying the baseline and this module's own runner.
$script:RemediationCommon = @'
#Requires -Version 5.1
# Written by New-CorvaneRemediation for an Intune remediation. Runs the Corvane program named
# below on the baseline this script carries, and prints one verdict line for Intune's report.
$program = [Environment]::ExpandEnvironmentVariables(@@PROGRAM@@)
$baseline = [Convert]::FromBase64String('@@BASELINE@@')

@@FUNCTIONS@@

function Invoke-Baseline([string]$Action, [object[]]$Option) {
    $file = Join-Path ([IO.Path]::GetTempPath()) ('corvane-baseline-' + [guid]::NewGuid().ToString('N') + '.txt')
    [IO.File]::WriteAllBytes($file, $baseline)
    try {
        $encoding = Get-CorvaneEncoding
        $inputBytes = $null
        $arguments = @("/$Action`:$file")
        if ($Option) {
            $inputBytes = ConvertTo-CorvaneInput -Option $Option -Encoding $encoding
            $arguments = @('/pwdstdin') + $arguments
        }
        $run = Invoke-CorvaneProcess -Program $program -Arguments $arguments -InputBytes $inputBytes -Encoding $encoding
        $code = Get-CorvaneResultCode -Output $run.Output -ExitCode $run.ExitCode
        $names = @([regex]::Matches($run.Output, '<SETTING changeStatus="(\w+)" name="([^"\n]*)"') |
                ForEach-Object { [pscustomobject]@{ Status = $_.Groups[1].Value; Name = $_.Groups[2].Value } })
        return [pscustomobject]@{ Code = $code; Settings = $names }
    } finally {
        Remove-Item -LiteralPath $file -ErrorAction SilentlyContinue
    }
}

function Format-Names([object[]]$Settings, [string]$Status) {
    $names = @($Settings | Where-Object { $_.Status -eq $Status } | ForEach-Object { $_.Name })
    $text = $names -join ', '
    # Intune keeps 2,048 characters of the output: the verdict stays one short line.
    if ($text.Length -gt 200) { $text = $text.Substring(0, 197) + '...' }
    return "$($names.Count) ($text)"
}
'@

$script:DetectionBody = @'

try {
    $result = Invoke-Baseline -Action 'CheckConfig'
} catch {
    "Could not tell: $($_.Exception.Message)"
    exit 2
}
switch ($result.Code) {
    0 { 'Compliant'; exit 0 }
    21 { 'Compliant (settings of other models passed over)'; exit 0 }
    20 { 'Not compliant: settings differ: ' + (Format-Names $result.Settings 'differs'); exit 1 }
}
# A check that could not tell keeps its code: a failed detection, not a remediation that cannot work.
"Could not tell: Corvane ended with $($result.Code)"
if ($result.Code -eq 1) { exit 2 }
exit $result.Code
'@

$script:RemediationBody = @'

function Test-PrivateFile([string]$Path) {
    # The password file must be readable by SYSTEM and the administrators alone.
    if ($PSVersionTable.PSEdition -eq 'Desktop' -or $IsWindows) {
        $allowed = @('S-1-5-18', 'S-1-5-32-544')
        foreach ($rule in (Get-Acl -LiteralPath $Path).Access) {
            if ($rule.AccessControlType -ne 'Allow') { continue }
            if (($rule.FileSystemRights -band [Security.AccessControl.FileSystemRights]::ReadData) -eq 0) { continue }
            $sid = $rule.IdentityReference.Translate([Security.Principal.SecurityIdentifier]).Value
            if ($allowed -notcontains $sid) { return $false }
        }
        return $true
    }
    return ([int][IO.File]::GetUnixFileMode($Path) -band 63) -eq 0
}

try {
    $passwords = @()
@@PASSWORD@@
    $option = @($passwords | Where-Object { $_ -ne $null -and $_.Length -gt 0 } | ForEach-Object { [pscustomobject]@{ Prefix = '/cspwd:'; Secret = $_ } })
    $result = Invoke-Baseline -Action 'SetConfig' -Option $option
    Remove-Variable passwords, option
} catch {
    "Not remediated: $($_.Exception.Message)"
    exit 2
}
switch ($result.Code) {
    0 { 'Remediated: settings changed: ' + (Format-Names $result.Settings 'pass'); exit 0 }
    10 { 'Not remediated: the BIOS password was refused or is missing'; exit 10 }
    13 { 'Not remediated: settings did not take their values: ' + (Format-Names $result.Settings 'fail'); exit 13 }
}
"Not remediated: Corvane ended with $($result.Code)"
if ($result.Code -eq 1) { exit 2 }
exit $result.Code
'@

function New-CorvaneRemediation {
    <#
    .SYNOPSIS
    Writes an Intune remediation around a baseline: a detection and a remediation script.
    .DESCRIPTION
    Both scripts carry the baseline and run the program at -ProgramPath on the managed machine
    (environment variables are expanded there; the default names the 64-bit Program Files folder
    from 32-bit PowerShell too, where %ProgramFiles% is the x86 one). The detection prints one
    verdict line and exits 0 when the machine matches (names and values of other models passed
    over), 1 when a setting differs, and Corvane's own code when it could not tell. The
    remediation applies the baseline with the password taken at run time from -PasswordFile (a
    file readable by SYSTEM and the administrators alone, one password a line), from the
    environment variable -PasswordVariable, or from the script block -PasswordCommand (a vault
    lookup answering SecureStrings or texts); none is ever written into the scripts.
    .EXAMPLE
    New-CorvaneRemediation -Path .\baseline.txt -Destination .\intune -PasswordFile 'C:\ProgramData\Corvane\bios.pwd'
    #>
    [CmdletBinding(SupportsShouldProcess, DefaultParameterSetName = 'None')]
    [OutputType([IO.FileInfo])]
    param(
        [Parameter(Mandatory, Position = 0)][string]$Path,
        [Parameter(Mandatory, Position = 1)][string]$Destination,
        [string]$ProgramPath = '%ProgramW6432%\Corvane\Corvane64.exe',
        [Parameter(Mandatory, ParameterSetName = 'File')][string]$PasswordFile,
        [Parameter(Mandatory, ParameterSetName = 'Variable')][string]$PasswordVariable,
        [Parameter(Mandatory, ParameterSetName = 'Command')][scriptblock]$PasswordCommand
    )
    $file = Resolve-CorvaneFile -Path $Path -Cmdlet $PSCmdlet
    $folder = Resolve-CorvaneFile -Path $Destination -Cmdlet $PSCmdlet
    $bytes = [IO.File]::ReadAllBytes($file)
    $quote = { param([string]$Text) "'" + $Text.Replace("'", "''") + "'" }
    $functions = @('Get-CorvaneEncoding', 'ConvertTo-CorvaneInput', 'ConvertTo-CorvaneArgument',
        'Invoke-CorvaneProcess', 'Get-CorvaneResultCode') | ForEach-Object {
        "function $_ {$((Get-Command -Name $_ -Module Corvane).Definition)}"
    }
    $functions = @("function Test-CorvaneWindows {$((Get-Command -Name Test-CorvaneWindows -Module Corvane).Definition)}") + $functions
    $common = $script:RemediationCommon.Replace('@@PROGRAM@@', (& $quote $ProgramPath)).
        Replace('@@BASELINE@@', [Convert]::ToBase64String($bytes)).Replace('@@FUNCTIONS@@', ($functions -join "`n`n"))
    switch ($PSCmdlet.ParameterSetName) {
        'File' {
            $source = "    `$passwordFile = [Environment]::ExpandEnvironmentVariables($(& $quote $PasswordFile))`n" +
            "    if (-not (Test-PrivateFile `$passwordFile)) { throw `"others may read the password file `$passwordFile`" }`n" +
            "    `$passwords = @([IO.File]::ReadAllText(`$passwordFile).Replace(`"``r`", '').Split(`"``n`"))"
        }
        'Variable' {
            $source = "    `$passwords = @(([string][Environment]::GetEnvironmentVariable($(& $quote $PasswordVariable))).Replace(`"``r`", '').Split(`"``n`"))"
        }
        'Command' {
            $source = "    `$passwords = @(& {`n$PasswordCommand`n    })"
        }
        default { $source = '' }
    }
    $scripts = @(
        @{ Name = 'Detect-CorvaneBaseline.ps1'; Text = $common + $script:DetectionBody },
        @{ Name = 'Remediate-CorvaneBaseline.ps1'; Text = $common + $script:RemediationBody.Replace('@@PASSWORD@@', $source) }
    )
    if (-not $PSCmdlet.ShouldProcess($folder, 'Write the Intune detection and remediation scripts')) { return }
    $null = New-Item -ItemType Directory -Path $folder -Force
    foreach ($script in $scripts) {
        $target = Join-Path $folder $script.Name
        # UTF-8 with a byte order mark: Windows PowerShell 5.1 reads a script without one in the code page.
        [IO.File]::WriteAllText($target, $script.Text.Replace("`r`n", "`n").Replace("`n", "`r`n"), (New-Object Text.UTF8Encoding $true))
        Get-Item -LiteralPath $target
    }
}

Export-ModuleMember -Function Get-CorvaneSetting, Test-CorvaneBaseline, Set-CorvaneBaseline, Set-CorvanePassword,
    New-CorvaneRemediation
