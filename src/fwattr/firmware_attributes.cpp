#include "fwattr/firmware_attributes.h"

#include <cerrno>
#include <memory>

#include "fwattr/maker_sources.h"
#include "fwattr/provider.h"
#include "fwattr/tree_source.h"
#include "fwattr/wmi_client.h"
#include "platform/host.h"
#include "platform/provider_contract.h"
#include "platform/text.h"

namespace corvane::fwattr {
namespace {

constexpr const char* kTreeVariable = "CORVANE_FIRMWARE_ATTRIBUTES";

std::shared_ptr<Provider>& InstalledProvider() {
  static std::shared_ptr<Provider> provider;
  return provider;
}

// The folder the tree was looked for in, and whether the variable named it.
struct Search {
  std::string root;
  bool fromVariable = false;
};
Search& LastSearch() {
  static Search search;
  return search;
}

void Install(const std::shared_ptr<Provider>& provider) {
  InstalledProvider() = provider;
  wbem::InstallLocatorFactory([provider](std::unique_ptr<wbem::Locator>& locator) {
    locator = CreateProviderLocator(provider);
    return wbem::kOk;
  });
}

// Whether a source of the installed provider answers yes.
template <typename Question>
bool AnySource(Question question) {
  const auto& provider = InstalledProvider();
  if (!provider) return false;
  for (const auto& source : provider->sources)
    if (question(*source)) return true;
  return false;
}

}  // namespace

bool InstallTree(platform::KernelTree& tree, const std::string& root) {
  auto provider = std::make_shared<Provider>();
  for (const auto& driver : FindDriverFolders(tree, root))
    provider->sources.push_back(CreateTreeSource(tree, driver));
  if (provider->sources.empty()) return false;
  Install(provider);
  return true;
}

bool InstallFromInterfaces(const wbem::LocatorFactory& locators) {
  InstalledProvider().reset();
  wbem::InstallLocatorFactory(locators);
  // Only a namespace that is not there lets a maker's interface serve: a provider that refuses
  // the connection, or answers without its interface, leaves the run to the management library
  // as it always has.
  if (WmiConnection(locators, contract::kNamespace.Wide()).result() != wbem::kInvalidNamespace)
    return false;
  auto provider = std::make_shared<Provider>();
  if (HasDellInterface(locators))
    provider->sources.push_back(CreateDellSource(locators));
  else if (auto lenovo = FindLenovoSource(locators))
    provider->sources.push_back(std::move(lenovo));
  if (provider->sources.empty()) return false;
  Install(provider);
  return true;
}

bool InstallFromEnvironment(platform::KernelTree& tree) {
  // Where the kernel has no such class, the makers' WMI interfaces stand in for it.
  const std::string platformRoot = PlatformTreeRoot();
  if (platformRoot.empty()) return InstallFromInterfaces(wbem::CreatePlatformLocator);
  const std::string given = platform::Os().Environment(kTreeVariable);
  LastSearch() = {given.empty() ? platformRoot : given, !given.empty()};
  return InstallTree(tree, LastSearch().root);
}

bool Serving() {
  return InstalledProvider() != nullptr;
}

bool CertificateAuthentication() {
  const auto& provider = InstalledProvider();
  if (!provider) return false;
  for (const auto& source : provider->sources)
    if (const AdminPassword admin = source->Admin(); admin.exists) return admin.certificate;
  return false;
}

bool FirstPasswordSettable() {
  const auto& provider = InstalledProvider();
  if (!provider) return true;
  for (const auto& source : provider->sources)
    if (const AdminPassword admin = source->Admin(); admin.exists) return admin.firstSettable;
  return true;
}

namespace {
AttributeSource* AdminSource() {
  const auto& provider = InstalledProvider();
  if (!provider) return nullptr;
  FinishWrites(*provider);
  for (const auto& source : provider->sources)
    if (source->Admin().exists) return source.get();
  return nullptr;
}
}  // namespace

int ChangeCertificate(CertificateAction action, const std::string& value,
                      const std::string& authority) {
  AttributeSource* source = AdminSource();
  return source == nullptr ? ENODEV : source->ChangeCertificate(action, value, authority);
}

bool CertificateThumbprints(std::string& text) {
  AttributeSource* source = AdminSource();
  return source != nullptr && source->Thumbprints(text);
}

void UseSignatures(const std::map<std::string, std::string>& signatures) {
  const auto& provider = InstalledProvider();
  if (!provider) return;
  provider->signatures = signatures;
  for (const auto& source : provider->sources) source->UseSignatures(&*provider->signatures);
}

CandidateVerdict TryPasswords(const std::vector<std::string>& names,
                              const std::vector<std::string>& values,
                              const std::vector<std::string>& candidates, std::size_t& accepted) {
  const auto& provider = InstalledProvider();
  if (!provider) return CandidateVerdict::Undecided;
  // The texts cross into the provider as they would through WMI.
  const auto wide = [](const std::vector<std::string>& texts) {
    std::vector<std::u16string> converted;
    converted.reserve(texts.size());
    for (const auto& text : texts) converted.push_back(platform::ToWide(text));
    return converted;
  };
  return TryCandidates(*provider, wide(names), wide(values), wide(candidates), accepted);
}

int ChangesBeforeRestart() {
  const auto& provider = InstalledProvider();
  int least = -1;
  if (provider)
    for (const auto& source : provider->sources)
      if (const int left = source->ChangesBeforeRestart(); left >= 0 && (least < 0 || left < least))
        least = left;
  return least;
}

bool RestartPending() {
  if (const auto& provider = InstalledProvider()) FinishWrites(*provider);
  return AnySource(
      [](AttributeSource& source) { return source.Changed() && source.RestartPending(); });
}

bool PasswordAwaitsRestart() {
  return AnySource([](AttributeSource& source) { return source.PasswordAwaitsRestart(); });
}

bool ChangesAwaitRestart() {
  return AnySource([](AttributeSource& source) { return source.RestartPending(); });
}

std::string NoInterfaceNote() {
  const Search& search = LastSearch();
  if (search.root.empty()) return {};
  return "corvane: no BIOS settings were found: no driver folder with attributes under " +
         search.root + (search.fromVariable ? std::string(" (") + kTreeVariable + ")" : "") +
         ", no BIOS provider and no usable management library. Run as root, and check that the "
         "maker's firmware-attributes driver is loaded (dell-wmi-sysman on Dell machines, "
         "think-lmi on Lenovo machines).\n";
}

std::string EmptyInterfaceNote() {
  const auto& provider = InstalledProvider();
  if (!provider || !provider->view || !provider->view->empty()) return {};
  std::string labels;
  for (const auto& source : provider->sources)
    labels.append(labels.empty() ? "" : ", ").append(source->Label());
  return "corvane: no BIOS settings were found: the BIOS interface (" + labels +
         ") answers but lists none, as it may after a BIOS update until the next restart. "
         "Restart the computer and run again.\n";
}

}  // namespace corvane::fwattr
