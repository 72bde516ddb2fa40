# Runs the PowerShell module's Pester tests against the Linux program on simulated machines:
#   pwsh -NoProfile -File tests/powershell/run.ps1 -Binary build/default/corvane
# Pester is the NuGet package tools/install-deps restores; ends with the line CI reads.
param([Parameter(Mandatory)][string]$Binary, [string]$Source = (Join-Path $PSScriptRoot '../..'))
$ErrorActionPreference = 'Stop'
$pester = Get-ChildItem -Path (Join-Path $HOME '.nuget/packages/pester/*/tools/Pester.psd1') -ErrorAction SilentlyContinue |
    Sort-Object { [version]$_.Directory.Parent.Name } | Select-Object -Last 1
if (-not $pester) {
    'powershell: Pester is not installed (tools/install-deps installs it)'
    exit 1
}
Import-Module $pester.FullName
$data = @{ Binary = (Resolve-Path $Binary).Path; Source = (Resolve-Path $Source).Path }
$configuration = New-PesterConfiguration
$configuration.Run.Container = New-PesterContainer -Path (Join-Path $PSScriptRoot '*.Tests.ps1') -Data $data
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $configuration
"powershell: $($result.PassedCount) passed, $($result.FailedCount) failed"
if ($result.FailedCount -or -not $result.PassedCount) { exit 1 }
