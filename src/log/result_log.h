// The result log on standard output: the opening and closing elements and the record
// writers every subsystem shares, all through the one ordered output stream of the host.
#pragma once

#include <string>
#include <string_view>

#include "platform/host.h"

namespace corvane {

// Result codes of a run, before translation.
enum ResultCode : int {
  kResultSuccess = 0,
  kResultFrameworkFailed = 1,
  kResultPassword = 10,
  kResultFileUnreadable = 11,
  kResultFileHeader = 12,
  kResultSettingFailed = 13,
  kResultCommandLine = 15,
  kResultJobFailed = 16,
  kResultHelpShown = 17,
  kResultSettingsDiffer = 20,  // a /CheckConfig found a difference
};

// The one process-wide result that the configuration readers and the apply step set; when it
// is non-zero at the end of a run it replaces the run's own result code.
extern int g_resultOverride;

namespace log {

// Writes text to the result log unchanged.
void Write(std::string_view text);
// printf-style record writer; values are inserted without escaping.
void Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "<BIOSCONFIG Version=... >\n" for one reading of the clock.
std::string FormatOpeningElement(const std::string& version, const std::string& computerName,
                                 const platform::ClockReading& clock);
// "%d.%d.%d.%d" of the fixed file version, "0.0.0.0" when there is none.
std::string FormatVersion(const platform::FileVersion* version);
void WriteOpeningElement();
void WriteClosingElement();

// The records of a /CheckConfig, which writes nothing: a setting whose value differs from the
// file's ("differs"), a value the file gives that /SetConfig would pass over ("invalid"), each
// with the current and the file's value, and a name line the machine has no setting for.
void WriteCheckRecord(std::string_view status, std::string_view name, std::string_view current,
                      std::string_view wanted);
void WriteUnknownSettingRecord(std::string_view name);

}  // namespace log
}  // namespace corvane
