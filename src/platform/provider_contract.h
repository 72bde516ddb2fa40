// The BIOS provider as every side of it knows it: the program that asks, the provider that the
// makers' sources serve, and the simulated machine. Its namespace, its classes and how they
// derive, SetBIOSSetting with its arguments, and the method's Return codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::contract {

// An ASCII name in both forms the code needs: narrow for texts and comparisons, UTF-16 (and
// zero-terminated) for WMI's calls.
template <std::size_t N>
struct Name {
  char narrow[N] = {};
  char16_t wide[N] = {};

  // Implicit: a name is written as its literal, and used wherever a text is.
  constexpr Name(const char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
      narrow[i] = text[i];
      wide[i] = static_cast<char16_t>(text[i]);
    }
  }
  constexpr operator std::string_view() const { return {narrow, N - 1}; }
  [[nodiscard]] constexpr std::u16string_view Wide() const { return {wide, N - 1}; }
};

inline constexpr Name kNamespace{R"(\\.\root\Lumo\InstrumentedBIOS)"};

// Every setting derives from the base class; the interface class stands alone.
inline constexpr Name kBaseClass{"Lumo_BIOSSetting"};
inline constexpr Name kEnumerationClass{"Lumo_BIOSEnumeration"};
inline constexpr Name kStringClass{"Lumo_BIOSString"};
inline constexpr Name kIntegerClass{"Lumo_BIOSInteger"};
inline constexpr Name kOrderedListClass{"Lumo_BIOSOrderedList"};
inline constexpr Name kPasswordClass{"Lumo_BIOSPassword"};
inline constexpr Name kInterfaceClass{"Lumo_BIOSSettingInterface"};
// The interface class as the program has always spelt it in its calls: WMI compares class names
// without regard to case.
inline constexpr Name kInterfaceClassAsCalled{"lumo_BIOSSettingInterface"};

inline constexpr std::string_view kClasses[] = {kBaseClass,    kInterfaceClass, kEnumerationClass,
                                                kStringClass,  kIntegerClass,   kOrderedListClass,
                                                kPasswordClass};

// The setting named so is the setup password, changed through SetBIOSSetting as any other.
inline constexpr std::string_view kSetupPasswordName = "Setup Password";

// How a password stands in the Value and Password arguments: after one of these markers, as text
// or as the hexadecimal scan codes of its keys.
inline constexpr Name kUtf16Marker{"<utf-16/>"};
inline constexpr Name kKbdMarker{"<kbd/>"};

// The interface's one method, its in-parameters (text) and its out-parameter.
inline constexpr Name kMethod{"SetBIOSSetting"};
inline constexpr std::string_view kMethodArguments[] = {"Name", "Value", "Password"};
inline constexpr Name kReturn{"Return"};

// SetBIOSSetting's Return codes. The program tells success from failure, and a refused password
// from any other failure.
inline constexpr std::int32_t kReturnSuccess = 0;
inline constexpr std::int32_t kReturnNotFound = 1;         // no setting has that Name
inline constexpr std::int32_t kReturnReadOnly = 2;         // it cannot be changed, or not so
inline constexpr std::int32_t kReturnInvalidValue = 3;     // the value is not allowed
inline constexpr std::int32_t kReturnPasswordRefused = 4;  // the Password argument is refused
// Beyond the provider's own codes: the firmware under a maker's interface failed otherwise.
inline constexpr std::int32_t kReturnFailed = 5;

inline bool PasswordRefused(std::int32_t returnCode) {
  return returnCode == kReturnPasswordRefused;
}

// The provider's class of that name (ASCII case ignored) as the provider spells it; empty for
// any other name.
std::string_view ClassSpelling(std::string_view name);
// A class and what it derives from, upper-cased, its own first: what InheritsFrom answers for.
std::vector<std::string> ClassChain(std::string_view className);

}  // namespace corvane::contract
