// The machine-file loader over any text. Whatever the file:
// - it is refused with a reason, or it loads and is written back in a form that loads again and
//   is written back the same (the file a run saves is one the next run reads);
// - a loaded machine serves GetConfig, whose text starts with the REPSET header;
// - the program and the simulated firmware agree on whether a setup password is set: the
//   program's IsSetupPasswordSet is true exactly when the firmware refuses a write of the
//   setup password that carries no password;
// - the provider's section comes first, then a dell section, then a lenovo section with
//   settings: a maker's interface serves exactly when no section before it does.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "config/configuration_job.h"
#include "fake_host.h"
#include "fuzz_check.h"
#include "fwattr/firmware_attributes.h"
#include "platform/provider_contract.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"
#include "wmi/password_options.h"

namespace {

using namespace corvane;

// Whether a write to "Setup Password" reaches the setup password's own checks, so that its
// answer tells whether the firmware counts a password as set.
bool PasswordProbeApplies(const sim::SimulatedMachine& machine) {
  if (machine.setupPassword == sim::SimulatedMachine::npos || machine.faults.connect ||
      machine.faults.failQueries.count("LUMO_BIOSPASSWORD") != 0)
    return false;
  const auto named = machine.byName.find("SETUP PASSWORD");
  return named != machine.byName.end() && named->second == machine.setupPassword &&
         !machine.settings[machine.setupPassword]->data.contains("writeReturn");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static testing::FakeHost host;
  host.files.clear();
  host.out.clear();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto machine = sim::ParseMachine(text, "", error);
  if (!machine) {
    FUZZ_CHECK(!error.empty(), "a refusal without a reason");
    return 0;
  }
  FUZZ_CHECK(error.empty(), "a loaded machine with a reason: " + error);

  const std::string saved = sim::MachineToJson(*machine);
  const auto again = sim::ParseMachine(saved, "", error);
  FUZZ_CHECK(again != nullptr, "the saved machine does not load: " + error + "\n" + saved);
  FUZZ_CHECK(sim::MachineToJson(*again) == saved, "the saved machine changes when saved again");

  sim::InstallProvider(machine);
  const auto lenovo = machine->document.find("lenovo");
  const bool lenovoSettings = lenovo != machine->document.end() &&
                              lenovo->contains("Lenovo_BiosSetting") &&
                              !(*lenovo)["Lenovo_BiosSetting"].empty();
  FUZZ_CHECK(fwattr::InstallFromInterfaces(wbem::CurrentLocatorFactory()) ==
                 (!machine->hasProvider && (machine->hasDell || lenovoSettings)),
             "a maker's interface served out of turn");
  if (PasswordProbeApplies(*machine)) {
    const bool set = wmi::IsSetupPasswordSet();
    const auto probe = sim::ParseMachine(saved, "", error);
    const std::int32_t code = sim::SetBiosSetting(*probe, u"Setup Password", u"", u"");
    FUZZ_CHECK(set == (code == contract::kReturnPasswordRefused),
               "the program reads the password as " + std::string(set ? "set" : "not set") +
                   ", the firmware answers " + std::to_string(code));
  }

  log::ResultLog log;
  config::ConfigurationJob job(log, nullptr, "", "");
  std::string repset;
  if (job.GetConfigText(repset)) FUZZ_CHECK(repset.rfind("English\n", 0) == 0, repset);
  return 0;
}
