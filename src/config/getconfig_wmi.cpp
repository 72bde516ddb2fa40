#include "config/configuration_job.h"
#include "config/repset_file.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

// One value line per list entry; blank entries and placeholders stand for nothing.
void AppendListLines(wbem::ClassObject& setting, const char16_t* listName,
                     const std::string* current, std::string& text) {
  std::vector<std::u16string> entries;
  if (!wmi::ReadArrayProperty(setting, listName, entries)) return;
  for (auto& wide : entries) {
    TrimWideText(wide);
    const std::string entry = platform::ToNarrow(wide);
    if (entry.empty() || entry == kPlaceholder) continue;
    text += '\t';
    if (current != nullptr && platform::EqualsNoCase(entry, *current)) text += '*';
    text += entry;
    text += '\n';
  }
}

void AppendNameLine(const std::string& name, std::string& text) {
  text += name;
  text += '\n';
}

}  // namespace

bool ConfigurationJob::WriteRepsetText(std::string& text) {
  if (!wmiAvailable || !initialized) return false;
  text = kRepsetHeader;
  text += '\n';
  for (std::size_t i = 0; i < settingList.size(); ++i) {
    wbem::ClassObject& setting = settingList[i];
    std::string name;
    if (!wmi::ReadRawStringProperty(setting, u"Name", name)) continue;
    if (wmi::IsOfClass(setting, contract::kEnumerationClass.Wide())) {
      AppendNameLine(name, text);
      std::string current;
      if (!wmi::ReadRawStringProperty(setting, u"CurrentValue", current)) current.clear();
      AppendListLines(setting, u"PossibleValues", &current, text);
    } else if (wmi::IsOfClass(setting, contract::kOrderedListClass.Wide())) {
      AppendNameLine(name, text);
      AppendListLines(setting, u"Elements", nullptr, text);
    } else if (wmi::IsOfClass(setting, contract::kPasswordClass.Wide())) {
      // Passwords are never written out.
    } else if (wmi::IsOfClass(setting, contract::kIntegerClass.Wide())) {
      // A read-only number could not be set from the file anyway.
      if (IsReadOnlySetting(setting)) continue;
      std::string value;
      if (!wmi::ReadRawStringProperty(setting, u"Value", value)) value.clear();
      AppendNameLine(name, text);
      text += '\t';
      text += value;
      text += '\n';
    } else {
      AppendNameLine(name, text);
      text += '\t';
      text += wmi::ReadStringProperty(setting, u"Value");
      text += '\n';
    }
  }
  return true;
}

}  // namespace corvane::config
