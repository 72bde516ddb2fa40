// BIOS settings served as the provider from makers' interfaces other than the provider itself:
// on Linux the kernel's firmware-attributes class (/sys/class/firmware-attributes), on Windows
// Dell's and Lenovo's own WMI interfaces, so that machines whose firmware answers there get the
// same GetConfig, SetConfig and password change as machines with the provider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fwattr/attribute_source.h"
#include "platform/kernel_tree.h"
#include "platform/wbem.h"

namespace corvane::fwattr {

// Installs the provider of every driver folder under root (a folder of tree laid out like the
// class folder, or one driver folder) as the process's WMI locator; tree outlives the provider.
// False, with nothing installed, when no driver folder there holds attributes.
bool InstallTree(platform::KernelTree& tree, const std::string& root);

// Asks what answers through locators, in this order: the provider's own namespace, which then
// serves as ever; Dell's interface; Lenovo's. Installs the provider over the maker's interface
// that answers, else locators themselves, as the process's WMI locator. True when a maker's
// interface serves.
bool InstallFromInterfaces(const wbem::LocatorFactory& locators);

// On Linux CORVANE_FIRMWARE_ATTRIBUTES when set, else the kernel's class folder, both of tree;
// where the kernel has no such class, the makers' interfaces through the platform's own WMI.
bool InstallFromEnvironment(platform::KernelTree& tree);

// The class folder of this platform; empty where there is none.
std::string PlatformTreeRoot();

// Whether a provider of this module serves the run.
bool Serving();
// Whether its administrator authenticates with certificates, which no password unlocks.
bool CertificateAuthentication();
// Whether a first administrator password can be set through it.
bool FirstPasswordSettable();

// The signatures (signed text -> base64 signature) the changes go with where the administrator
// is a certificate; a change without one is not sent.
void UseSignatures(const std::map<std::string, std::string>& signatures);

// The certificate's life on the source whose administrator it is (AttributeSource's). The C
// library's error number; ENODEV where no source has an administrator.
int ChangeCertificate(CertificateAction action, const std::string& value,
                      const std::string& authority);
// The installed certificate's thumbprints as the firmware gives them; false where none can be
// read.
bool CertificateThumbprints(std::string& text);

enum class CandidateVerdict {
  Accepted,   // the firmware took the change under the candidate at `accepted`
  Refused,    // it refused every candidate's password
  Undecided,  // the change failed otherwise, or is not one the firmware would be asked to make
};
// Where the makers' interfaces serve, a password is judged by the first changes that need it
// rather than by a write of its own: makes the changes (names[i] = values[i]) under each
// candidate in turn (each as the Password argument of SetBIOSSetting gives it) until the firmware
// takes one. The changes are then made; SetBIOSSetting of each answers as it did, without a
// second attempt.
CandidateVerdict TryPasswords(const std::vector<std::string>& names,
                              const std::vector<std::string>& values,
                              const std::vector<std::string>& candidates, std::size_t& accepted);

// How many more changes the firmware takes before it needs a restart; -1: no limit known.
int ChangesBeforeRestart();

// Whether a setting was changed this run and the firmware reports that changes wait for a
// restart.
bool RestartPending();
// Whether the administrator password was changed this run and the new one takes effect only
// at the next restart.
bool PasswordAwaitsRestart();
// Whether the firmware reports changes that wait for a restart, whoever made them.
bool ChangesAwaitRestart();

// What to tell a user on a machine where nothing answered: where the settings were looked for
// and what to check. Empty on platforms without a class folder.
std::string NoInterfaceNote();
// The same for an interface that answered and listed no settings when the run asked for them;
// empty otherwise.
std::string EmptyInterfaceNote();

}  // namespace corvane::fwattr
