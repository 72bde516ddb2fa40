#include <string>

#include "driver/run.h"
#include "driver/sign_config.h"
#include "fwattr/firmware_attributes.h"
#include "platform/host.h"
#include "platform/kernel_tree.h"
#include "platform/wbem.h"
#include "sim/machine/simulated_machine.h"

// The arguments arrive as the C runtime split them (on Windows too: narrow, in the ANSI code
// page), quotes removed from file names with blanks.
int main(int argc, char** argv) {
  using namespace corvane;
  // The framework sees the options as a command line, without the program path.
  std::string rawCommandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) rawCommandLine.push_back(' ');
    rawCommandLine.append(argv[i]);
  }
  // Signing reads no BIOS: nothing is installed, so that nothing can reach one.
  if (driver::SignConfigRequested(argc, argv)) return driver::Run(argc, argv, rawCommandLine);
  // A broken machine description must not pass for a real run: nothing reaches the result log.
  std::string error;
  const sim::EnvironmentStatus simulated = sim::InstallFromEnvironment(error);
  if (simulated == sim::EnvironmentStatus::Failed) {
    platform::Os().WriteErr("corvane: " + error + "\n");
    return 2;
  }
  // A simulated machine comes first: one with a kernel is a Linux machine showing that kernel's
  // firmware-attributes class, any other decides by its sections as a machine's namespaces
  // would. Then on Linux the kernel's firmware attributes, on Windows the provider or a maker's
  // own WMI interface.
  if (simulated != sim::EnvironmentStatus::Installed)
    fwattr::InstallFromEnvironment(platform::NativeKernelTree());
  else if (platform::KernelTree* kernel = sim::InstalledKernelTree())
    fwattr::InstallTree(*kernel, sim::KernelTreeRoot());
  else
    fwattr::InstallFromInterfaces(wbem::CurrentLocatorFactory());
  return driver::Run(argc, argv, rawCommandLine);
}
