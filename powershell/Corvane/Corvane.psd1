@{
    RootModule           = 'Corvane.psm1'
    ModuleVersion        = '0.1.0'
    GUID                 = '5b0e7c1a-3f4d-4e8a-9c2b-6d1f0a7e4c93'
    Author               = 'The Corvane developers'
    Copyright            = '(c) 2026 The Corvane developers. MIT license.'
    Description          = 'BIOS setup settings from PowerShell: reads, checks and applies REPSET baselines and the setup password through the Corvane program, and writes Intune remediation scripts.'
    PowerShellVersion    = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FunctionsToExport    = @('Get-CorvaneSetting', 'Test-CorvaneBaseline', 'Set-CorvaneBaseline',
                             'Set-CorvanePassword', 'New-CorvaneRemediation')
    CmdletsToExport      = @()
    VariablesToExport    = @()
    AliasesToExport      = @()
    PrivateData          = @{ PSData = @{ Tags = @('BIOS', 'Intune', 'ConfigMgr') } }
}
