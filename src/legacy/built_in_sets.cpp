#include <array>

#include "legacy/sys_obj_table.h"

namespace corvane::legacy {
namespace {

// The machines whose firmware answers the objects of set A.
constexpr std::array<std::uint16_t, 26> kSetAMachines = {
    1184, 1468, 1780, 1860, 2008, 2032, 2036,  2040,  2080,  2084,  2100,  2188,  2192,
    2236, 2356, 2360, 2368, 2372, 2460, 12424, 12426, 12427, 12430, 12464, 12478, 12481};
constexpr std::uint16_t kSetBMachine = 2476;

BuiltInObjectMaker g_maker = &MakeBuiltInObjects;

}  // namespace

BuiltInSet ChooseBuiltInSet(std::uint16_t machineId) {
  for (const std::uint16_t id : kSetAMachines)
    if (id == machineId) return BuiltInSet::SetA;
  return machineId == kSetBMachine ? BuiltInSet::SetB : BuiltInSet::None;
}

// The built-in objects are not written yet: every set is still empty, so such a table offers
// no list and the legacy backend reports that it has no settings.
std::vector<std::unique_ptr<SysObj>> MakeBuiltInObjects(BuiltInSet /*set*/,
                                                        std::uint16_t /*machineId*/) {
  return {};
}

BuiltInObjectMaker InstallBuiltInObjectMaker(BuiltInObjectMaker maker) {
  const BuiltInObjectMaker previous = g_maker;
  g_maker = maker != nullptr ? maker : &MakeBuiltInObjects;
  return previous;
}

std::vector<std::unique_ptr<SysObj>> MakeInstalledBuiltInObjects(BuiltInSet set,
                                                                 std::uint16_t machineId) {
  return g_maker(set, machineId);
}

}  // namespace corvane::legacy
