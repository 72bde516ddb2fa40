// The kernel's firmware-attributes class as attribute sources: one per driver folder. Every
// file access goes through the host, so tests put a fake kernel behind it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fwattr/attribute_source.h"

namespace corvane::fwattr {

// The driver folders under root that hold attributes/, in byte order of their names; root itself
// when it is such a folder.
std::vector<std::string> FindDriverFolders(const std::string& root);

std::unique_ptr<AttributeSource> CreateTreeSource(const std::string& driver);

}  // namespace corvane::fwattr
