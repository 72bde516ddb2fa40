// The VARIANT conversions of the Windows provider adapter, with the types and array shapes a
// provider can hand out that the WMI double never does.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/com_win32.h"

namespace corvane {
namespace {

using platform::com::FromVariant;
using platform::com::ToVariant;
using platform::com::VariantValue;
using Type = wbem::Variant::Type;

std::string Describe(const wbem::Variant& v) {
  std::string text = std::to_string(static_cast<int>(v.type)) + ":";
  switch (v.type) {
    case Type::String:
      return text + std::to_string(v.string.size()) + " chars";
    case Type::Int32:
      return text + std::to_string(v.int32);
    case Type::Bool:
      return text + (v.boolean ? "true" : "false");
    case Type::StringArray:
      return text + std::to_string(v.strings.size()) + " items";
    default:
      return text;
  }
}

bool Same(const wbem::Variant& a, const wbem::Variant& b) {
  return a.type == b.type && a.string == b.string && a.int32 == b.int32 && a.boolean == b.boolean &&
         a.strings == b.strings && a.bytes == b.bytes;
}

BSTR Bstr(std::u16string_view text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                           static_cast<UINT>(text.size()));
}

// A safe array of BSTRs with the given bounds per dimension, filled in index order.
SAFEARRAY* StringArray(std::vector<SAFEARRAYBOUND> bounds, std::vector<std::u16string> items) {
  SAFEARRAY* array = SafeArrayCreate(VT_BSTR, static_cast<UINT>(bounds.size()), bounds.data());
  for (std::size_t i = 0; i < items.size(); ++i) {
    LONG index = bounds[0].lLbound + static_cast<LONG>(i);
    BSTR element = Bstr(items[i]);
    SafeArrayPutElement(array, &index, element);
    SysFreeString(element);
  }
  return array;
}

TEST(VariantTest, ProviderVariantsBecomeTheMirrorsTypes) {
  struct Case {
    const char* what;
    std::function<void(VARIANT&)> fill;
    bool ok;
    wbem::Variant expected;
  };
  const std::u16string withZero(u"a\0b", 3);
  const Case cases[] = {
      {"empty", [](VARIANT&) {}, true, wbem::Variant()},
      {"null", [](VARIANT& v) { v.vt = VT_NULL; }, true, wbem::Variant::Null()},
      {"string with a zero",
       [&](VARIANT& v) {
         v.vt = VT_BSTR;
         v.bstrVal = Bstr(withZero);
       },
       true, wbem::Variant::String(withZero)},
      {"null string", [](VARIANT& v) { v.vt = VT_BSTR; }, true, wbem::Variant::String(u"")},
      {"true",
       [](VARIANT& v) {
         v.vt = VT_BOOL;
         v.boolVal = VARIANT_TRUE;
       },
       true, wbem::Variant::Bool(true)},
      {"false",
       [](VARIANT& v) {
         v.vt = VT_BOOL;
         v.boolVal = VARIANT_FALSE;
       },
       true, wbem::Variant::Bool(false)},
      {"sint32",
       [](VARIANT& v) {
         v.vt = VT_I4;
         v.lVal = -5;
       },
       true, wbem::Variant::Int32(-5)},
      {"uint32 keeps its bits",
       [](VARIANT& v) {
         v.vt = VT_UI4;
         v.ulVal = 0xFFFFFFFFu;
       },
       true, wbem::Variant::Int32(-1)},
      {"sint16 is widened with its sign",
       [](VARIANT& v) {
         v.vt = VT_I2;
         v.iVal = -2;
       },
       true, wbem::Variant::Int32(-2)},
      {"uint16",
       [](VARIANT& v) {
         v.vt = VT_UI2;
         v.uiVal = 65535;
       },
       true, wbem::Variant::Int32(65535)},
      {"uint8 is widened without garbage",
       [](VARIANT& v) {
         v.vt = VT_UI1;
         v.lVal = 0x7F7F7F7F;  // the bytes above bVal must not leak into the value
         v.bVal = 200;
       },
       true, wbem::Variant::Int32(200)},
      {"sint8",
       [](VARIANT& v) {
         v.vt = VT_I1;
         v.cVal = -1;
       },
       true, wbem::Variant::Int32(-1)},
      {"a real carries nothing the program reads",
       [](VARIANT& v) {
         v.vt = VT_R8;
         v.dblVal = 1.5;
       },
       true, wbem::Variant()},
      {"strings from a lower bound of 1",
       [](VARIANT& v) {
         v.vt = VT_ARRAY | VT_BSTR;
         v.parray = StringArray({{3, 1}}, {u"one", u"--", u"three"});
       },
       true, wbem::Variant::StringArray({u"one", u"--", u"three"})},
      {"no strings",
       [](VARIANT& v) {
         v.vt = VT_ARRAY | VT_BSTR;
         v.parray = StringArray({{0, 0}}, {});
       },
       true, wbem::Variant::StringArray({})},
      {"two dimensions are refused",
       [](VARIANT& v) {
         v.vt = VT_ARRAY | VT_BSTR;
         v.parray = StringArray({{2, 0}, {2, 0}}, {});
       },
       false, wbem::Variant()},
      {"an array of integers carries no strings",
       [](VARIANT& v) {
         v.vt = VT_ARRAY | VT_I4;
         v.parray = SafeArrayCreateVector(VT_I4, 0, 2);
       },
       true, wbem::Variant()},
  };
  for (const Case& c : cases) {
    VariantValue raw;
    c.fill(*raw.Put());
    wbem::Variant converted = wbem::Variant::Int32(99);
    const wbem::HResult hr = FromVariant(raw.Get(), converted);
    EXPECT_EQ(SUCCEEDED(hr), c.ok) << c.what;
    if (c.ok) {
      EXPECT_TRUE(Same(converted, c.expected)) << c.what << ": " << Describe(converted);
    }
  }
}

TEST(VariantTest, MirrorValuesBecomeTheVariantsWmiTakesAndComeBackUnchanged) {
  struct Case {
    wbem::Variant value;
    VARTYPE type;
  };
  const Case cases[] = {
      {wbem::Variant(), VT_EMPTY},
      {wbem::Variant::Null(), VT_NULL},
      {wbem::Variant::String(std::u16string(u"x\0y", 3)), VT_BSTR},
      {wbem::Variant::String(u""), VT_BSTR},
      {wbem::Variant::Int32(-7), VT_I4},
      {wbem::Variant::Bool(true), VT_BOOL},
      {wbem::Variant::StringArray({u"a", u"", u"c"}), VT_ARRAY | VT_BSTR},
      {wbem::Variant::ByteArray({0x44, 0x00, 0xFF}), VT_ARRAY | VT_UI1},
      {wbem::Variant::ByteArray({}), VT_ARRAY | VT_UI1},
  };
  for (const Case& c : cases) {
    VariantValue raw;
    ASSERT_EQ(ToVariant(c.value, raw), S_OK) << Describe(c.value);
    EXPECT_EQ(raw.Get().vt, c.type) << Describe(c.value);
    if (c.type == VT_BOOL) {
      EXPECT_EQ(raw.Get().boolVal, VARIANT_TRUE);
    }
    if (c.type == VT_BSTR) {
      EXPECT_NE(raw.Get().bstrVal, nullptr);  // empty, never null
    }
    if (c.type == (VT_ARRAY | VT_BSTR)) {
      LONG lower = -1;
      SafeArrayGetLBound(raw.Get().parray, 1, &lower);
      EXPECT_EQ(lower, 0);
    }
    wbem::Variant back;
    ASSERT_EQ(FromVariant(raw.Get(), back), S_OK);
    EXPECT_TRUE(Same(back, c.value)) << Describe(c.value) << " came back " << Describe(back);
  }
}

}  // namespace
}  // namespace corvane
