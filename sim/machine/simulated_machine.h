// The simulated machine: a JSON file named by CORVANE_MACHINE that describes a provider
// machine and a legacy firmware, and keeps the changes a run makes. It drives the demo
// and the end-to-end tests and is never used unless that variable is set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/kernel_tree.h"

namespace corvane::sim {

class SimulatedMachine;

// Parses a machine description. path is where changes are saved (empty: never saved).
// Returns nullptr with a reason in error when the text is not a valid machine.
std::shared_ptr<SimulatedMachine> ParseMachine(const std::string& json, const std::string& path,
                                               std::string& error);
// Reads and parses the machine file at path; nullptr with a reason when it is missing,
// unreadable or malformed. The file is never modified by a failed load.
std::shared_ptr<SimulatedMachine> LoadMachine(const std::string& path, std::string& error);

// Installs the machine's provider (when it describes one) as the process's WMI locator, so that
// every connection reaches this machine. Without a provider section connections fail.
void InstallProvider(const std::shared_ptr<SimulatedMachine>& machine);

// The machine as JSON text, in the file format.
std::string MachineToJson(const SimulatedMachine& machine);

// Writes unsaved changes to the machine's file (nothing to do without a path). False with a
// reason when the file cannot be written; the changes then stay pending.
bool SaveMachine(SimulatedMachine& machine, std::string& error);

// The installed machine's kernel as the files of its firmware-attributes class; nullptr when the
// machine has no kernel section. It lasts until another machine is installed.
platform::KernelTree* InstalledKernelTree();
// The class folder in which it shows its driver: a path below the machine file, so that no real
// folder can answer for it. Empty when the machine has no kernel section.
std::string KernelTreeRoot();

enum class EnvironmentStatus { NotRequested, Installed, Failed };
// Loads and installs the machine named by CORVANE_MACHINE, if the variable is set: its provider
// its physical memory and, with a kernel section, the kernel's firmware-attributes class.
EnvironmentStatus InstallFromEnvironment(std::string& error);

}  // namespace corvane::sim
