#include "platform/host.h"

namespace corvane::platform {
namespace {

Host* installed = nullptr;

Host& Native() {
  static const std::unique_ptr<Host> native = CreateNativeHost();
  return *native;
}

}  // namespace

Host& Os() {
  return installed != nullptr ? *installed : Native();
}

Host* InstallHost(Host* host) {
  Host* previous = installed;
  installed = host;
  return previous;
}

}  // namespace corvane::platform
