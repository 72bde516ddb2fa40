// BIOS settings served as the provider from makers' interfaces other than the provider itself:
// on Linux the kernel's firmware-attributes class (/sys/class/firmware-attributes), so that
// machines whose drivers expose their settings there get the same GetConfig, SetConfig and
// password change as machines with the provider.
#pragma once

#include <string>

namespace corvane::fwattr {

// Installs the provider of every driver folder under root (a folder laid out like the class
// folder, or one driver folder) as the process's WMI locator. False, with nothing installed,
// when no driver folder there holds attributes.
bool InstallTree(const std::string& root);

// CORVANE_FIRMWARE_ATTRIBUTES when set, else the kernel's class folder; on Linux only.
bool InstallFromEnvironment();

// The class folder of this platform; empty where there is none.
std::string PlatformTreeRoot();

// Whether a provider of this module serves the run.
bool Serving();
// Whether its administrator authenticates with certificates, which no password unlocks.
bool CertificateAuthentication();

// Whether a setting was changed this run and the firmware reports that changes wait for a
// restart.
bool RestartPending();
// Whether the firmware reports changes that wait for a restart, whoever made them.
bool ChangesAwaitRestart();

// What to tell a user on a machine where nothing answered: where the settings were looked for
// and what to check. Empty on platforms without a class folder.
std::string NoInterfaceNote();

}  // namespace corvane::fwattr
