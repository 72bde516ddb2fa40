// The kernel's firmware-attributes class as attribute sources: one per driver folder. Every
// file access goes through the tree they are handed, so tests put a fake kernel behind it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fwattr/attribute_source.h"
#include "platform/kernel_tree.h"

namespace corvane::fwattr {

// The driver folders under root that hold attributes/, in byte order of their names; root itself
// when it is such a folder.
std::vector<std::string> FindDriverFolders(platform::KernelTree& tree, const std::string& root);

// The source of one driver folder; tree outlives it.
std::unique_ptr<AttributeSource> CreateTreeSource(platform::KernelTree& tree,
                                                  const std::string& driver);

}  // namespace corvane::fwattr
