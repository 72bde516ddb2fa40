#include "legacy/built_in_objects.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "firmware/boot_device_list.h"
#include "legacy/bios_access.h"

namespace corvane::legacy {

const std::array<const char*, kStringTableEntryCount> StringTableEntries = {
    "English",
    "File",
    "Security",
    "Advanced",
    "Boot Options",
    "Device Options",
    "System Information",
    "Manufacturer",
    "Product Name",
    "Processor Type",
    "Processor Stepping",
    "Cache Size (L1/L2)",
    "Memory Size",
    "ROM Revision",
    "System BIOS",
    "Chassis Serial Number",
    "System IDs",
    "Asset Tracking Number",
    "Enter Ownership Tag",
    "Serial Number",
    "Setup Password",
    "Old password",
    "New password",
    "Verify new password",
    "Power-On Password",
    "Password Options",
    "Stringent Security",
    "Smart Card BIOS Password Support",
    "Device Security",
    "Parallel Port",
    "Serial Port",
    "Flash Media Reader",
    "Floppy Drives",
    "Wireless Network Button",
    "Floppy Boot",
    "Legacy Diskette Write",
    "CD-ROM Boot",
    "Fan Always on while on AC Power",
    "Enable",
    "Disable",
    "Device hidden",
    "Device available",
    "Yes",
    "No",
    "MultiBoot",
    "QuickBoot",
    "Num Lock State at Power-On",
    "Network Service Boot",
    "USB Legacy Device Support",
    "Infrared Port",
    "Multiple Pointing Devices",
    "Touch Pad",
    "Pointing Stick",
    "Intel(r) Speedstep(tm) Technology",
    "SmartCard Passwords",
    "SmartCard",
    "Embedded Security",
    "Activate Embedded Security On Next Boot",
    "Embedded Security Activation Policy",
    "No prompts",
    "F1 to Boot",
    "Allow user to reject",
    "Password Prompt on Warm Boot",
    "WOL Boot Order",
    "Force Network",
    "Normal Boot",
    "Boot Order",
    "IDE CD-ROM Drive",
    "Diskette Drive (A:)",
    "Hard Drive (C:)",
    "Network Controller",
    "Notebook Multibay 1",
    "Notebook Multibay 2",
    "Base Left Multibay",
    "Base Right Multibay",
    "Base Upper Right Multibay",
    "PCI Slot A",
    "PCI Slot B",
    "PCI Slot C",
    "USB CD ROM",
    "USB Floppy",
    "USB Hard Drive",
    "USB LS-120 Drive",
    "LAN/WLAN Switching",
    "Embedded WLAN Device Radio",
    "Embedded Bluetooth Device Radio",
    "LAN Power Save",
    "Mobile hard drive protection",
    "Data Execution Prevention",
    "CMOS",
    "Onboard USB Controller",
    "Front USB Ports",
    "Onboard Serial Port",
    "3F8_IRQ4",
    "2F8_IRQ3",
    "3E8_IRQ4",
    "2E8_IRQ3",
    "After Power Loss",
    "On",
    "Off",
    "Previous State",
    "Fan Control",
    "Auto",
    "Halt On",
    "All Errors",
    "No Errors",
    "All But Keyboard",
    "All But Diskette",
    "All But Diskette or Keyboard",
    "POST Delay",
    "0",
    "5",
    "10",
    "15",
    "30",
    "Bios DMA Data Transfers",
    "--",
};

namespace {

constexpr std::uint32_t kToggleFunction = 0xE845;
constexpr std::uint32_t kSecurityFunction = 0xE842;
constexpr std::uint32_t kSecurityWrite = 0x0001E842;
constexpr std::uint32_t kSecuritySignature = 0x53454355;
constexpr std::uint32_t kTagSignature = 0x4351;
constexpr std::uint32_t kToggleBlock = 40;
constexpr std::uint32_t kSecurityWriteBlock = 76;
constexpr std::uint32_t kAssetBlock = 104;
constexpr std::uint32_t kOwnerBlock = 160;
constexpr std::uint16_t kAssetCode = 0x25;
constexpr std::uint16_t kOwnerCode = 0x13;
constexpr std::size_t kPasswordRoom = 33;
constexpr std::size_t kShownText = 40;
constexpr std::size_t kAssetSent = 63;
constexpr std::size_t kOwnerShown = 80;
constexpr std::size_t kOwnerSent = 120;
// Bits 11 and 12 of EAX hold security options and so fall in AH; only AH's other bits tell of a
// failed call.
constexpr std::uint8_t kOptionBitsInAh = 0x18;
constexpr std::uint32_t kPolicyBits = 0x60000;

std::uint8_t LowestBit(std::uint8_t mask) {
  return static_cast<std::uint8_t>(std::countr_zero(static_cast<unsigned>(mask)));
}

// Copies at most most characters of text into the buffer from offset, always leaving room for
// the closing NUL that the zeroed buffer supplies.
void PutText(std::uint8_t* buffer, std::uint32_t size, std::size_t offset, const std::string& text,
             std::size_t most) {
  if (offset >= size) return;
  const std::size_t n = std::min({text.size(), most, std::size_t{size} - offset - 1});
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result): the zeroed buffer holds the NUL.
  std::memcpy(buffer + offset, text.data(), n);
}

// The text of a value buffer without blanks, tabs, CRs and LFs at either end.
std::string TrimmedText(const std::uint8_t* buffer, std::uint32_t size) {
  const std::string text = ReadText(buffer, size, 2);
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// A failed read leaves 0.
bool ReadCmos(BiosAccess* access, std::uint32_t offset, std::uint8_t& byte) {
  byte = 0;
  return access->GetCmos(offset, 1, &byte) != 0;
}

struct CmosWrite {
  std::uint32_t offset;
  std::uint8_t oldByte;
  std::uint8_t newByte;
};

// Writes each byte and then, for checksum rows, moves the checksum by what the bytes changed.
// A byte the firmware refused counts as unchanged and stops the write; the result is the last
// write's, 0 when any failed.
std::int32_t WriteCmos(BiosAccess* access, std::vector<CmosWrite> writes, bool checksum,
                       bool readBack) {
  std::int32_t result = 0;
  bool failed = false;
  int change = 0;
  for (CmosWrite& write : writes) {
    std::uint8_t byte = write.newByte;
    result = access->SetCmos(write.offset, 1, &byte);
    if (result == 0) {
      failed = true;
      write.newByte = write.oldByte;
    }
    // The firmware may not keep what was written: the byte as it reads now is what the sum
    // must follow. An unreadable byte is taken as written.
    std::uint8_t now = 0;
    if (readBack && access->GetCmos(write.offset, 1, &now) != 0) write.newByte = now;
    change += static_cast<int>(write.newByte) - static_cast<int>(write.oldByte);
    if (failed) break;
  }
  if (checksum) {
    std::uint8_t sum[2] = {0, 0};
    // Without the old sum no new one can be formed; writing the change alone would spoil it.
    if (access->GetCmos(kCmosChecksumOffset, 2, sum) == 0) return 0;
    const auto value = static_cast<std::uint16_t>(((sum[0] << 8) | sum[1]) + change);
    sum[0] = static_cast<std::uint8_t>(value >> 8);
    sum[1] = static_cast<std::uint8_t>(value);
    result = access->SetCmos(kCmosChecksumOffset, 2, sum);
  }
  return failed ? 0 : result;
}

// Interrupt 0x15 through the library. The status byte only echoes the AH the block holds.
std::int32_t CallInterrupt15(BiosAccess* access, BiosRegisterBlock& block) {
  std::uint8_t status = 0;
  return access->CallInterrupt(kInterrupt15, block.data(), block.size(), &status);
}

// An E845h write: BL 1, the setting's code in CX and its value in BH; 1 when the call went
// through and the firmware left the carry clear.
std::int32_t WriteE845(BiosAccess* access, BiosRegisterBlock& block, std::uint16_t code,
                       std::uint8_t bh) {
  block.SetEax(kToggleFunction);
  block.SetBl(1);
  block.SetBh(bh);
  block.SetCx(code);
  return (CallInterrupt15(access, block) != 0 && !block.carry()) ? 1 : 0;
}

}  // namespace

// ---- BiosRegisterBlock ----------------------------------------------------------------------

std::uint32_t BiosRegisterBlock::U32(std::size_t offset) const {
  return ReadU32(bytes_.data(), bytes_.size(), offset, 0);
}

void BiosRegisterBlock::SetU32(std::size_t offset, std::uint32_t value) {
  WriteU32(bytes_.data(), bytes_.size(), offset, value);
}

// ---- ChoiceObject ---------------------------------------------------------------------------

void ChoiceObject::FillValue(std::uint8_t* buffer, std::uint32_t size,
                             std::uint16_t position) const {
  WriteU16(buffer, size, 0, row().nameId);
  WriteU16(buffer, size, 2, position);
  std::size_t at = 4;
  for (const std::uint16_t choice : choices_) {
    WriteU16(buffer, size, at, choice);
    at += 2;
  }
  WriteU16(buffer, size, at, kNoString);
}

std::uint16_t ChoiceObject::RequestedPosition(const std::uint8_t* buffer, std::uint32_t size) {
  return ReadU16(buffer, size, 2, kNoString);
}

// ---- FirmwareToggle -------------------------------------------------------------------------

bool FirmwareToggle::ReadBlock(BiosAccess* access, BiosRegisterBlock& block) const {
  block.SetEax(kToggleFunction);
  block.SetBl(0);
  block.SetCx(code_);
  const std::int32_t called = CallInterrupt15(access, block);
  // This one answers in BL, and a clear carry is all it promises.
  if (rule_ == ToggleRule::BlBit4) return !block.carry();
  return called != 0 && !block.carry() && block.ah() == 0;
}

std::int32_t FirmwareToggle::GetValue(BiosAccess* access, std::uint8_t* buffer,
                                      std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  BiosRegisterBlock block(kToggleBlock);
  if (!ReadBlock(access, block)) return 0;
  const std::uint8_t bh = block.bh();
  bool on = false;
  switch (rule_) {
    case ToggleRule::Set:
      on = bh != 0;
      break;
    case ToggleRule::Clear:
      on = bh == 0;
      break;
    case ToggleRule::One:
      on = bh == 1;
      break;
    case ToggleRule::Hex1F:
      on = bh == 0x1F;
      break;
    case ToggleRule::Bit:
      on = ((bh >> bit_) & 1) != 0;
      break;
    case ToggleRule::BlBit4:
      on = ((block.bl() >> 4) & 1) != 0;
      break;
  }
  FillValue(buffer, size, on ? 1 : 0);
  return 1;
}

std::int32_t FirmwareToggle::SetValue(BiosAccess* access, const std::uint8_t* buffer,
                                      std::uint32_t size, const char* /*password*/,
                                      std::uint32_t /*passwordLength*/) {
  if (access == nullptr || !AcceptsValue(buffer, size)) return 0;
  const bool on = RequestedPosition(buffer, size) == 1;
  const bool checksPresence =
      rule_ == ToggleRule::One || rule_ == ToggleRule::Hex1F || rule_ == ToggleRule::Bit;
  if (checksPresence && IsPresent(access) == 0) return 0;

  BiosRegisterBlock block(kToggleBlock);
  std::uint8_t bh = 0;
  switch (rule_) {
    case ToggleRule::Set:
    case ToggleRule::One:
    case ToggleRule::BlBit4:
      bh = on ? 1 : 0;
      break;
    case ToggleRule::Clear:
      bh = on ? 0 : 1;
      break;
    case ToggleRule::Hex1F:
      bh = on ? 0x1F : 0;
      break;
    case ToggleRule::Bit: {
      // The other bits of BH belong to other settings: they go back as the firmware gave them.
      ReadBlock(access, block);
      const auto bit = static_cast<std::uint8_t>(1u << bit_);
      bh = on ? static_cast<std::uint8_t>(block.bh() | bit)
              : static_cast<std::uint8_t>(block.bh() & ~bit);
      break;
    }
  }
  return WriteE845(access, block, code_, bh);
}

// ---- SecurityOption -------------------------------------------------------------------------

std::int32_t SecurityOption::GetValue(BiosAccess* access, std::uint8_t* buffer,
                                      std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  BiosRegisterBlock block(kToggleBlock);
  block.SetEax(kSecurityFunction);
  const std::int32_t called = CallInterrupt15(access, block);
  if (called == 0 || block.carry() || (block.ah() & ~kOptionBitsInAh) != 0) return 0;
  if ((block.ebx() & mask_) != mask_) return 0;
  std::uint16_t position = 0;
  if (policy_) {
    switch (block.eax() & kPolicyBits) {
      case 0:
        position = 1;
        break;
      case 0x40000:
        position = 2;
        break;
      default:  // 0x20000, and both bits together
        position = 0;
        break;
    }
  } else {
    position = (block.eax() & mask_) != 0 ? 1 : 0;
  }
  FillValue(buffer, size, position);
  return 1;
}

std::int32_t SecurityOption::SetValue(BiosAccess* access, const std::uint8_t* buffer,
                                      std::uint32_t size, const char* password,
                                      std::uint32_t passwordLength) {
  if (access == nullptr || !AcceptsValue(buffer, size) || IsPresent(access) == 0) return 0;
  const std::uint16_t position = RequestedPosition(buffer, size);
  std::uint32_t bits = 0;
  if (policy_) {
    static constexpr std::uint32_t kPolicyWrites[] = {0x20000, 0, 0x40000};
    if (position >= std::size(kPolicyWrites)) return 0;
    bits = kPolicyWrites[position];
  } else {
    bits = position == 1 ? mask_ : 0;
  }
  BiosRegisterBlock block(kSecurityWriteBlock);
  block.SetEax(kSecurityWrite);
  block.SetEbx(bits);
  block.SetEcx(mask_);
  block.SetEdx(kSecuritySignature);
  block.SetU32(32, static_cast<std::uint32_t>(kPasswordRoom));
  if (password != nullptr)
    for (std::size_t i = 0; i < std::min<std::size_t>(passwordLength, kPasswordRoom); ++i)
      block.SetByte(40 + i, static_cast<std::uint8_t>(password[i]));
  return CallInterrupt15(access, block);
}

// ---- CmosChoice -----------------------------------------------------------------------------

std::int32_t CmosChoice::GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (!PrepareValue(access, buffer, size) || cmos_.bytes.empty()) return 0;
  std::uint16_t position = 0;
  switch (cmos_.rule) {
    case CmosRule::Flag: {
      bool all = true;
      for (const CmosBits& bits : cmos_.bytes) {
        std::uint8_t byte = 0;
        ReadCmos(access, bits.offset, byte);
        if ((byte & bits.mask) != bits.mask) all = false;
      }
      position = all ? 1 : 0;
      break;
    }
    case CmosRule::Field:
    case CmosRule::Mapped: {
      const CmosBits& bits = cmos_.bytes.front();
      std::uint8_t byte = 0;
      ReadCmos(access, bits.offset, byte);
      const auto value = static_cast<std::uint8_t>((byte & bits.mask) >> LowestBit(bits.mask));
      position = value;
      if (cmos_.rule == CmosRule::Mapped) {
        const auto it = std::find(cmos_.codes.begin(), cmos_.codes.end(), value);
        position = it == cmos_.codes.end() ? cmos_.otherPosition
                                           : static_cast<std::uint16_t>(it - cmos_.codes.begin());
      }
      break;
    }
  }
  FillValue(buffer, size, position);
  return 1;
}

std::int32_t CmosChoice::SetValue(BiosAccess* access, const std::uint8_t* buffer,
                                  std::uint32_t size, const char* /*password*/,
                                  std::uint32_t /*passwordLength*/) {
  if (access == nullptr || !AcceptsValue(buffer, size)) return 0;
  const std::uint16_t position = RequestedPosition(buffer, size);
  std::vector<CmosWrite> writes;
  for (const CmosBits& bits : cmos_.bytes) {
    CmosWrite write{bits.offset, 0, 0};
    // The byte's other bits belong to other settings: without them nothing is written.
    if (!ReadCmos(access, bits.offset, write.oldByte)) return 0;
    const auto kept = static_cast<std::uint8_t>(write.oldByte & ~bits.mask);
    const std::uint8_t shift = LowestBit(bits.mask);
    std::uint32_t value = 0;
    switch (cmos_.rule) {
      case CmosRule::Flag:
        value = position != 0 ? bits.mask : 0;
        break;
      case CmosRule::Field:
        // A position the bits cannot hold would spill into the byte's other bits.
        if (position > (bits.mask >> shift)) return 0;
        value = static_cast<std::uint32_t>(position) << shift;
        break;
      case CmosRule::Mapped:
        if (position >= cmos_.codes.size()) return 0;
        value = static_cast<std::uint32_t>(cmos_.codes[position]) << shift;
        break;
    }
    write.newByte = static_cast<std::uint8_t>(kept | (value & bits.mask));
    writes.push_back(write);
  }
  return WriteCmos(access, std::move(writes), cmos_.checksum, cmos_.readBack);
}

// ---- CmosBootOrder --------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kBootOrderBytes[] = {0x65, 0x66};
constexpr std::uint16_t kOtherDevice = 116;
constexpr std::uint8_t kDisabledCode = 8;
// Device code to string index: USB Hard Drive, Hard Drive (C:), CD-ROM Boot, Network
// Controller; code 8 is a disabled place.
constexpr std::pair<std::uint8_t, std::uint16_t> kBootCodes[] = {
    {0, 81}, {1, 69}, {2, 36}, {3, 70}};
constexpr std::uint16_t kDisabledIndex = 39;

std::uint16_t IndexOfCode(std::uint8_t code) {
  if (code == kDisabledCode) return kDisabledIndex;
  for (const auto& [c, index] : kBootCodes)
    if (c == code) return index;
  return kOtherDevice;
}

std::uint8_t CodeOfIndex(std::uint16_t index) {
  for (const auto& [code, i] : kBootCodes)
    if (i == index) return code;
  return kDisabledCode;
}

}  // namespace

std::int32_t CmosBootOrder::GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  WriteU16(buffer, size, 0, row().nameId);
  std::size_t at = 2;
  for (const std::uint32_t offset : kBootOrderBytes) {
    std::uint8_t byte = 0;
    ReadCmos(access, offset, byte);
    WriteU16(buffer, size, at, IndexOfCode(byte & 0x0F));
    WriteU16(buffer, size, at + 2, IndexOfCode(static_cast<std::uint8_t>(byte >> 4)));
    at += 4;
  }
  WriteU16(buffer, size, at, kNoString);
  return 1;
}

std::int32_t CmosBootOrder::SetValue(BiosAccess* access, const std::uint8_t* buffer,
                                     std::uint32_t size, const char* /*password*/,
                                     std::uint32_t /*passwordLength*/) {
  if (access == nullptr || !AcceptsValue(buffer, size)) return 0;
  std::vector<CmosWrite> writes;
  // The codes of devices without a name of their own, which read as the placeholder, in order:
  // each placeholder written takes the next of them back, so that moving the other devices
  // never turns an unnamed device into a disabled place.
  std::vector<std::uint8_t> unnamed;
  for (const std::uint32_t offset : kBootOrderBytes) {
    CmosWrite write{offset, 0, 0};
    if (!ReadCmos(access, offset, write.oldByte)) return 0;
    for (const auto code : {static_cast<std::uint8_t>(write.oldByte & 0x0F),
                            static_cast<std::uint8_t>(write.oldByte >> 4)})
      if (IndexOfCode(code) == kOtherDevice) unnamed.push_back(code);
    writes.push_back(write);
  }
  std::size_t nextUnnamed = 0;
  const auto codeAt = [&](std::size_t at) {
    const std::uint16_t index = ReadU16(buffer, size, at, kNoString);
    if (index == kOtherDevice && nextUnnamed < unnamed.size()) return unnamed[nextUnnamed++];
    return CodeOfIndex(index);
  };
  std::size_t at = 2;
  for (CmosWrite& write : writes) {
    const std::uint8_t low = codeAt(at);
    const std::uint8_t high = codeAt(at + 2);
    write.newByte = static_cast<std::uint8_t>(low | (high << 4));
    at += 4;
  }
  return WriteCmos(access, std::move(writes), true, false);
}

// ---- StringTableObject ----------------------------------------------------------------------

std::uint32_t StringTableObject::GetSize(BiosAccess*) {
  std::uint32_t size = 3;
  for (const char* text : StringTableEntries)
    size += static_cast<std::uint32_t>(std::strlen(text)) + 1;
  return size;
}

std::int32_t StringTableObject::GetValue(BiosAccess* access, std::uint8_t* buffer,
                                         std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  std::size_t at = 2;  // after the leading 0
  for (const char* text : StringTableEntries) {
    const std::size_t length = std::strlen(text);
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): the zeroed buffer holds the NUL.
    std::memcpy(buffer + at, text, length);
    at += length + 1;
  }
  return 1;
}

// ---- SystemText, tags, passwords ------------------------------------------------------------

std::int32_t SystemText::GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  WriteU16(buffer, size, 0, row().nameId);
  PutText(buffer, size, 2, (access->*source_)(), kShownText);
  return 1;
}

std::int32_t AssetTag::GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  WriteU16(buffer, size, 0, row().nameId);
  BiosRegisterBlock block(kAssetBlock);
  block.SetEax(kToggleFunction);
  block.SetEcx(kAssetCode);
  block.SetU32(32, 64);
  block.SetU32(36, 0);
  std::uint8_t status = 0;
  std::int32_t called = access->CallInt15(block.data(), block.size(), &status);
  if (called == 0 || block.carry()) {
    block = BiosRegisterBlock(kAssetBlock);
    block.SetEax(kToggleFunction);
    block.SetEbx(0);
    block.SetEcx(kAssetCode);
    called = CallInterrupt15(access, block);
    if (called == 0 || block.carry()) return 0;
  }
  // A length byte and the text after it.
  const std::size_t length = std::min<std::size_t>(block.Byte(40), kShownText);
  PutText(buffer, size, 2, std::string(block.data() + 41, block.data() + 41 + length), kShownText);
  return 1;
}

std::int32_t AssetTag::SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                                const char* /*password*/, std::uint32_t /*passwordLength*/) {
  if (access == nullptr || !AcceptsValue(buffer, size)) return 0;
  const std::string text = TrimmedText(buffer, size);
  const std::size_t n = std::min(text.size(), kAssetSent);
  BiosRegisterBlock block(kAssetBlock);
  block.SetByte(40, static_cast<std::uint8_t>(n));
  for (std::size_t i = 0; i < n; ++i) block.SetByte(41 + i, static_cast<std::uint8_t>(text[i]));
  block.SetEsi(kTagSignature);
  return WriteE845(access, block, kAssetCode, 0);
}

std::int32_t OwnerTag::GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  WriteU16(buffer, size, 0, row().nameId);
  PutText(buffer, size, 2, access->GetOwnershipString(), kOwnerShown);
  return 1;
}

std::int32_t OwnerTag::SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                                const char* /*password*/, std::uint32_t /*passwordLength*/) {
  if (access == nullptr || !AcceptsValue(buffer, size)) return 0;
  // Trimmed as the asset tag is: the firmware would otherwise keep the blanks a written value
  // is padded with, and show them with the tag.
  const std::string text = TrimmedText(buffer, size);
  BiosRegisterBlock block(kOwnerBlock);
  for (std::size_t i = 0; i < std::min(text.size(), kOwnerSent); ++i)
    block.SetByte(40 + i, static_cast<std::uint8_t>(text[i]));
  block.SetEsi(kTagSignature);
  return WriteE845(access, block, kOwnerCode, 0);
}

std::int32_t PasswordObject::GetValue(BiosAccess* access, std::uint8_t* buffer,
                                      std::uint32_t size) {
  if (!PrepareValue(access, buffer, size)) return 0;
  WriteU16(buffer, size, 0, row().nameId);  // and an empty text
  return 1;
}

// ---- BootOrder ------------------------------------------------------------------------------

namespace {

// The non-empty device names in priority order, read anew.
std::vector<std::string> BootNames(BiosAccess* access) {
  std::vector<std::string> names;
  firmware::BootDeviceList list(access);
  list.Read(&names);
  return names;
}

std::uint16_t StringIndexOf(const std::string& name) {
  for (std::size_t i = 0; i < StringTableEntries.size(); ++i)
    if (name == StringTableEntries[i]) return static_cast<std::uint16_t>(i);
  return kPlaceholderString;
}

}  // namespace

std::int32_t BootOrder::IsPresent(BiosAccess*) {
  present = 1;
  presenceKnown = true;
  return present;
}

std::uint32_t BootOrder::GetSize(BiosAccess* access) {
  return static_cast<std::uint32_t>(2 * BootNames(access).size() + 4);
}

std::int32_t BootOrder::GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (access == nullptr || buffer == nullptr) return 0;
  const std::vector<std::string> names = BootNames(access);
  if (names.empty() || size < 2 * names.size() + 4) return 0;
  std::memset(buffer, 0, size);
  WriteU16(buffer, size, 0, row().nameId);
  std::size_t at = 2;
  for (const auto& name : names) {
    WriteU16(buffer, size, at, StringIndexOf(name));
    at += 2;
  }
  WriteU16(buffer, size, at, kNoString);
  return 1;
}

std::int32_t BootOrder::SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                                 const char* /*password*/, std::uint32_t /*passwordLength*/) {
  if (access == nullptr || !AcceptsValue(buffer, size)) return 0;
  firmware::BootDeviceList list(access);
  // A device without a name of its own reads as the placeholder, which names no device: each
  // placeholder written takes the next such device, in priority order, to its place, so that
  // moving the other devices never pushes it behind them.
  std::vector<std::string> current;
  list.Read(&current);
  std::vector<std::string> unnamed;
  for (const auto& name : current)
    if (StringIndexOf(name) == kPlaceholderString) unnamed.push_back(name);
  std::size_t nextUnnamed = 0;
  std::vector<std::string> names;
  const std::size_t most = (std::size_t{size} - 4) / 2;
  for (std::size_t i = 0; i < most; ++i) {
    const std::uint16_t index = ReadU16(buffer, size, 2 + 2 * i, kNoString);
    if (index >= StringTableEntries.size()) break;
    if (index == kPlaceholderString && nextUnnamed < unnamed.size())
      names.push_back(unnamed[nextUnnamed++]);
    else
      names.emplace_back(StringTableEntries[index]);
  }
  return list.ApplyOrder(names);
}

}  // namespace corvane::legacy
