// The machine files the simulated machine refuses, and the reason it gives for each. The cases
// are data, refused_machines.json: each a machine (its "text" where it is no JSON at all) and a
// part of the reason, which stops every run before anything reaches the simulated firmware.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/machine/machine_file.h"
#include "sim/machine/simulated_machine.h"

namespace corvane {
namespace {

TEST(SimulatedMachine, RefusesEveryMalformedMachineWithItsReason) {
  // The samples' folder is the one folder of the sources that every build of the tests names.
  std::ifstream file(std::string(CORVANE_MACHINES_DIR) + "/../tests/sim/refused_machines.json");
  std::stringstream text;
  text << file.rdbuf();
  const sim::Json cases = sim::Json::parse(text.str(), nullptr, false);
  ASSERT_TRUE(cases.is_array() && !cases.empty());
  for (const sim::Json& c : cases) {
    const std::string machine =
        c.contains("text") ? c["text"].get<std::string>() : c["machine"].dump();
    std::string error;
    EXPECT_EQ(sim::ParseMachine(machine, "", error), nullptr) << machine;
    EXPECT_NE(error.find(c["reason"].get<std::string>()), std::string::npos)
        << machine << ": " << error;
  }
}

}  // namespace
}  // namespace corvane
