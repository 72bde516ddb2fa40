#include "platform/host.h"

#include "platform/kernel_tree.h"

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

KernelTree& NativeKernelTree() {
  static const std::unique_ptr<KernelTree> native = CreateNativeKernelTree();
  return *native;
}

}  // namespace corvane::platform
