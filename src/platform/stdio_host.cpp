#include "platform/stdio_host.h"

#include <cstdio>
#include <vector>

namespace corvane::platform {

// Write errors on the standard streams are not detected: there is nowhere left to report them.
void StdioHost::WriteOut(std::string_view text) {
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
}

void StdioHost::FlushOut() {
  (void)std::fflush(stdout);
}

void StdioHost::WriteErr(std::string_view text) {
  (void)std::fwrite(text.data(), 1, text.size(), stderr);
  (void)std::fflush(stderr);
}

bool StdioHost::ReadStandardInput(std::string& bytes, std::size_t limit) {
  std::string content;
  std::vector<char> buffer(4096);
  std::size_t count = 0;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0) {
    if (content.size() + count > limit) return false;
    content.append(buffer.data(), count);
  }
  if (std::ferror(stdin) != 0) return false;
  bytes = std::move(content);
  return true;
}

bool StdioHost::ReadFile(const std::string& path, std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::string content;
  std::vector<char> buffer(65536);
  std::size_t count = 0;
  bool tooLong = false;
  while (!tooLong && (count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    tooLong = content.size() + count > kMaxFileBytes;
    if (!tooLong) content.append(buffer.data(), count);
  }
  const bool failed = tooLong || std::ferror(file) != 0;
  (void)std::fclose(file);  // everything was read; closing a file read from cannot lose it
  if (failed) return false;
  bytes = std::move(content);
  return true;
}

}  // namespace corvane::platform
