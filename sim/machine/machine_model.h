// The simulated machine as it lives in memory, shared by the loader and the provider that
// serves it. Settings are immutable records replaced whole on every change, so that objects a
// query handed out keep the values they had when they were fetched, as WMI objects do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/utf8.h"
#include "platform/wbem.h"
#include "sim/machine/machine_file.h"

namespace corvane::sim {

enum class SettingClass { Enumeration, String, Integer, OrderedList, Password, Other };

// Its moves only move strings and a JSON value, none of which throws; the exception check cannot
// see through the JSON library's move.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct SettingRecord {
  std::string className;  // as the file spells it
  std::string classKey;   // folded, for comparisons
  SettingClass kind = SettingClass::Other;
  Json data;  // the file's object: properties and controls, in file order
};
using RecordPtr = std::shared_ptr<const SettingRecord>;

struct Faults {
  bool connect = false;
  std::unordered_set<std::string> failQueries;  // folded class names
  bool noInterfaceInstance = false;
  bool returnMissing = false;
};

class SimulatedMachine {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  std::string path;  // where changes are saved; empty: never saved
  // The file as read, with provider.settings emptied: the settings live in `settings`.
  Json document;
  bool hasProvider = false;
  std::vector<RecordPtr> settings;
  std::unordered_map<std::string, std::size_t> byName;  // folded, trimmed Name -> first setting
  std::size_t setupPassword = npos;              // first password setting named "Setup Password"
  std::unordered_set<std::string> knownClasses;  // folded
  Json interfaceProperties = Json::object();
  std::string interfaceRelPath;
  Faults faults;
  // Dell's and Lenovo's own interfaces: their sections stay in the document and are changed
  // there.
  bool hasDell = false;
  bool hasLenovo = false;
  // Lenovo: the opcode password the save just answered used up, which opens the same save sent
  // again at once; the firmware's memory of its last call, never saved.
  std::optional<std::string> repeatableSave;
  bool dirty = false;        // changes not yet saved
  bool countsDirty = false;  // calls counted and not yet saved: saved when the process ends
};

// The top-level keys of the sections the program's side serves and saves.
inline constexpr std::string_view kDellSection = "dell";
inline constexpr std::string_view kLenovoSection = "lenovo";
// The kernel of a simulated Linux machine: a firmware-attributes driver over the dell or lenovo
// section.
inline constexpr std::string_view kKernelSection = "kernel";

// Notes that calls were counted: the machine file gets them when the process ends, or with the
// next change, so that counting costs no save per call.
void NoteCounts(const std::shared_ptr<SimulatedMachine>& machine);

// Upper-cased ASCII of the trimmed text: the key of every case-insensitive lookup here.
std::string FoldKey(std::string_view text);

// JSON text is UTF-8 whatever the ANSI code page.
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

// A property value of the file as the provider serves it.
wbem::Variant ToVariant(const Json& value);
// Whether a JSON value can be a property: a string, a 32-bit integer, a boolean, an array of
// strings or null; a reason when it cannot.
bool CheckProperty(const std::string& key, const Json& value, std::string& error);
bool FitsInt32(const Json& value);

// Checks a dell or lenovo section as it is loaded; a reason when it is malformed.
bool CheckMakerSection(std::string_view key, const Json& section, std::string& error);
// What the lenovo section says of the machine's model and its certificates; the kernel's
// driver reads the same.
struct LenovoModel {
  bool thinkCentre = false;       // "family": the ThinkCentre certificate methods and answers
  bool certificates = false;      // the firmware has the certificate methods
  bool otherMethodNames = false;  // the signed classes' methods are not named as guessed
  std::optional<std::string> serial;
};
LenovoModel LenovoModelOf(const Json& section);
// The method of a signed class (Lenovo_SetBiosSettingEx...): the class's name without "Lenovo_",
// as the older classes have it; "Execute" with otherMethodNames.
std::string LenovoSignedMethod(const LenovoModel& model, std::string_view className);

// Checks the kernel section of a document as it is loaded; a reason when it is malformed.
bool CheckKernelSection(const Json& document, std::string& error);
// With a kernel section, installs the kernel whose tree shows the driver's folder; without one
// (or without a machine), takes an earlier such kernel away.
void InstallKernelTree(const std::shared_ptr<SimulatedMachine>& machine);

// A connection to one of the makers' namespaces of the machine's dell and lenovo sections;
// nullptr for a namespace the machine does not have.
wbem::ServicesPtr ConnectMakerNamespace(const std::shared_ptr<SimulatedMachine>& machine,
                                        std::u16string_view nameSpace);

// The firmware's side of SetBIOSSetting; answers its Return code.
std::int32_t SetBiosSetting(SimulatedMachine& machine, std::u16string_view name,
                            std::u16string_view value, std::u16string_view password);

std::unique_ptr<wbem::Locator> CreateSimulatedLocator(std::shared_ptr<SimulatedMachine> machine);

}  // namespace corvane::sim
