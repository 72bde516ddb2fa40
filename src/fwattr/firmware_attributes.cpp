#include "fwattr/firmware_attributes.h"

#include "fwattr/attribute_tree.h"
#include "platform/host.h"
#include "platform/text.h"

namespace corvane::fwattr {
namespace {

std::shared_ptr<Tree>& InstalledTree() {
  static std::shared_ptr<Tree> tree;
  return tree;
}

}  // namespace

bool InstallTree(const std::string& root) {
  std::string driver = FindDriverFolder(root);
  if (driver.empty()) return false;
  auto tree = std::make_shared<Tree>();
  tree->driver = std::move(driver);
  InstalledTree() = tree;
  wbem::InstallLocatorFactory([tree](std::unique_ptr<wbem::Locator>& locator) {
    locator = CreateTreeLocator(tree);
    return wbem::kOk;
  });
  return true;
}

bool InstallFromEnvironment() {
  // Where the kernel has no such class, no folder stands in for it either.
  const std::string platformRoot = PlatformTreeRoot();
  if (platformRoot.empty()) return false;
  const std::string given = platform::Os().Environment("CORVANE_FIRMWARE_ATTRIBUTES");
  return InstallTree(given.empty() ? platformRoot : given);
}

bool RestartPending() {
  const std::shared_ptr<Tree>& tree = InstalledTree();
  if (!tree || !tree->settingsChanged) return false;
  std::string text;
  return ReadValueFile(tree->driver + "/attributes/pending_reboot", text) &&
         platform::Trim(text) == "1";
}

}  // namespace corvane::fwattr
