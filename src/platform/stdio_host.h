// The services both native hosts take from the C runtime: the standard streams (in their text
// mode, so that on Windows each line feed reaches the console or file as CR LF) and whole-file
// reads.
#pragma once

#include <string>
#include <string_view>

#include "platform/host.h"

namespace corvane::platform {

class StdioHost : public Host {
 public:
  void WriteOut(std::string_view text) override;
  void FlushOut() override;
  void WriteErr(std::string_view text) override;
  bool ReadStandardInput(std::string& bytes, std::size_t limit) override;
  bool ReadFile(const std::string& path, std::string& bytes) override;
};

}  // namespace corvane::platform
