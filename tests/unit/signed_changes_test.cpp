#include "config/signed_changes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "config/repset_file.h"

namespace corvane::config {
namespace {

// Every form /SetConfig could send for a block, or its refusal.
TEST(SignedBlocksTest, SignsEveryFormTheFirmwareCouldBeSent) {
  struct Case {
    const char* file;
    std::vector<std::string> texts;
    const char* refusal;
  };
  const std::string set(kSignedSetPrefix);
  const Case cases[] = {
      {"English\nWakeOnLAN\n\tDisable\n\t*Enable\n", {set + "WakeOnLAN,Enable"}, ""},
      // Each marked line: the first the firmware lists is the one sent.
      {"English\nX \n\t*Bogus\n\t*On\n", {set + "X,Bogus", set + "X,On"}, ""},
      {"English\nBootOrder\n\tNVMe0\n\tHDD0\n\tUSBCD DISABLED\n",
       {set + "BootOrder,NVMe0:HDD0"},
       ""},
      {"English\nAlarm Time(HH:MM:SS)\n\t09:15:00\n",
       {set + "Alarm Time(HH:MM:SS),09:15:00", set + "Alarm Time(HH:MM:SS),[09:15:00]"},
       ""},
      {"English\nAsset\n\t007\n", {set + "Asset,007", set + "Asset,7"}, ""},
      {"English\nOwner\n\tIT dept\n", {set + "Owner,IT dept"}, ""},
      {"English\nOwner\n", {set + "Owner,"}, ""},
      {"English\nOwner\n\ta,b\n", {}, "the firmware's interface cannot carry ',' or ';'"},
      {"English\nBootOrder\n\tA DISABLED\n\tB DISABLED\n",
       {},
       "an order needs at least one device that is not marked DISABLED"},
  };
  for (const Case& c : cases) {
    const std::vector<SignedBlock> blocks = SignedBlocks(SplitLines(c.file));
    ASSERT_EQ(blocks.size(), 1u) << c.file;
    EXPECT_EQ(blocks[0].texts, c.texts) << c.file;
    EXPECT_EQ(blocks[0].refusal, c.refusal) << c.file;
  }
}

TEST(SignatureFileTest, ReadsLinesOfTextTabSignature) {
  struct Case {
    const char* bytes;
    bool ok;
    std::size_t badLine;
    std::map<std::string, std::string> book;
  };
  const Case cases[] = {
      {"A,b\tc2ln\r\n\nLenovo_SaveBiosSettingsEx\tZz==\n",
       true,
       0,
       {{"A,b", "c2ln"}, {"Lenovo_SaveBiosSettingsEx", "Zz=="}}},
      {"A\tx\nno tab here\n", false, 2, {}},
      {"\tx\n", false, 1, {}},
      {"A\t\n", false, 1, {}},
      {"A\tx\ty\n", false, 1, {}},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> book;
    std::size_t badLine = 0;
    EXPECT_EQ(ParseSignatureFile(c.bytes, book, badLine), c.ok) << c.bytes;
    if (c.ok)
      EXPECT_EQ(book, c.book) << c.bytes;
    else
      EXPECT_EQ(badLine, c.badLine) << c.bytes;
  }
}

}  // namespace
}  // namespace corvane::config
