// The BIOS provider over attribute sources: the settings a query hands out and SetBIOSSetting,
// which validates before anything is written and keeps each connection's writes in one batch.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fwattr/attribute_source.h"
#include "fwattr/firmware_attributes.h"
#include "platform/provider_contract.h"
#include "platform/wbem.h"

namespace corvane::fwattr {

// An attribute served: what its source read, what it means, and the source.
struct Served {
  Attribute attribute;
  RawAttribute raw;
  std::size_t source = 0;
};

struct Provider {
  std::vector<std::unique_ptr<AttributeSource>> sources;  // a name served twice: the first's

  struct Written {
    std::size_t source;
    std::string name, oldValue;
  };
  std::vector<Written> batch;  // changes the sources took since their last Finish
  // Every setting as this run knows it: read once, then kept up to date with what it wrote.
  std::optional<std::vector<Served>> view;
  // Settings whose change was taken but never saved: they read with the value they kept.
  std::map<std::string, std::string> unsaved;  // upper-cased name -> value
  std::set<std::string> reportedTwice;         // upper-cased names
  // Changes made while their password was tried: upper-cased name, line feed, value -> Return.
  std::multimap<std::string, std::int32_t> made;
  // Where the administrator is a certificate: the signatures the changes go with.
  std::optional<Signatures> signatures;
};

// Every setting, in source order and then the source's own; the batch is finished first so
// that the answer shows what the firmware keeps.
const std::vector<Served>& ServedSettings(Provider& provider);
// The same without finishing the batch: what the firmware had before it.
const std::vector<Served>& View(Provider& provider);
// The setting of that name (blanks at the ends and ASCII case ignored), complete; nullptr when
// none is served.
Served* FindServed(Provider& provider, std::string_view name);
// Asks the source for what a setting was read without (Lenovo's selections).
void Complete(Provider& provider, Served& served);
// Reads again what a batch wrote, and what a Dell rule ties to it.
void Refresh(Provider& provider, const std::vector<Provider::Written>& written);

// Every attribute of a source, its Dell rules applied.
std::vector<Attribute> ReadAllWithRules(AttributeSource& source);

// Ends the batch of every source; the first error of a batch that was not kept, else 0.
int FinishWrites(Provider& provider);

// The firmware's side of SetBIOSSetting: answers its Return code (contract::kReturn...). Nothing is
// written when the request is refused.
std::int32_t SetBiosSetting(Provider& provider, std::u16string_view name, std::u16string_view value,
                            std::u16string_view password);

// Makes the changes under each candidate in turn (each as the Password argument gives it), each
// time as one batch the firmware judges, until one is taken. Each change's answer is kept for
// the SetBIOSSetting that asks for it, which then makes no second attempt.
CandidateVerdict TryCandidates(Provider& provider, const std::vector<std::u16string>& names,
                               const std::vector<std::u16string>& values,
                               const std::vector<std::u16string>& candidates,
                               std::size_t& accepted);

// The Return code of a failed write (the C library's error number; 0 is success).
std::int32_t ReturnCodeOfWriteError(int error);

std::unique_ptr<wbem::Locator> CreateProviderLocator(std::shared_ptr<Provider> provider);

}  // namespace corvane::fwattr
