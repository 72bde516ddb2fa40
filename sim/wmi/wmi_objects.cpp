#include "sim/wmi/wmi_objects.h"

namespace corvane::sim {

bool IsControlKey(std::string_view key) {
  return !key.empty() && key[0] >= 'a' && key[0] <= 'z';
}

Json::const_iterator FindProperty(const Json& data, std::string_view name) {
  for (auto it = data.begin(); it != data.end(); ++it)
    if (!IsControlKey(it.key()) && wbem::SameName(it.key(), name)) return it;
  return data.end();
}

void SetProperty(Json& data, std::string_view name, Json value) {
  for (auto it = data.begin(); it != data.end(); ++it)
    if (!IsControlKey(it.key()) && wbem::SameName(it.key(), name)) {
      *it = std::move(value);
      return;
    }
  data[std::string(name)] = std::move(value);
}

std::string TextOf(const Json& value) {
  return value.is_string() ? value.get_ref<const std::string&>() : std::string();
}

}  // namespace corvane::sim
