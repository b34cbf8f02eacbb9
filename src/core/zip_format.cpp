#include "core/zip_format.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

namespace vk::zip {

uint32_t Crc32(uint32_t crc, const void* data, size_t length) {
  // libdeflate's folds with carry-less multiplication where the processor has it:
  // many times zlib's speed, and every byte packed or checked passes through here.
  return libdeflate_crc32(crc, data, length);
}

uint32_t CombineCrc32(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
  // z_off_t may be 32 bits wide; combining with zeros shifts the first CRC, and
  // the shifts add up, so a long B is taken in steps.
  constexpr uint64_t kStep = 1u << 30;
  while (lengthB > kStep) {
    crcA = static_cast<uint32_t>(crc32_combine(crcA, 0, static_cast<z_off_t>(kStep)));
    lengthB -= kStep;
  }
  return static_cast<uint32_t>(crc32_combine(crcA, crcB, static_cast<z_off_t>(lengthB)));
}

DosDateTime ToDosDateTime(const CivilTime& t) {
  DosDateTime d;
  if (t.year < 1980) return d;
  if (t.year > 2107) {
    d.date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    d.time = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
    return d;
  }
  d.date = static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
  d.time = static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
  return d;
}

CivilTime FromDosDateTime(DosDateTime d) {
  CivilTime t;
  t.year = 1980 + (d.date >> 9);
  t.month = std::clamp((d.date >> 5) & 0x0F, 1, 12);
  t.day = std::clamp(d.date & 0x1F, 1, 31);
  t.hour = std::min(d.time >> 11, 23);
  t.minute = std::min((d.time >> 5) & 0x3F, 59);
  t.second = std::min((d.time & 0x1F) * 2, 59);
  return t;
}

bool Entry::IsSymbolicLink() const {
  constexpr uint32_t kUnixTypeMask = 0170000;
  constexpr uint32_t kUnixLink = 0120000;
  constexpr uint32_t kReparsePoint = 0x400;
  constexpr int kHostUnix = 3;
  if ((versionMadeBy >> 8) == kHostUnix && ((externalAttributes >> 16) & kUnixTypeMask) == kUnixLink)
    return true;
  return (externalAttributes & kReparsePoint) != 0 && (versionMadeBy >> 8) != kHostUnix;
}

void PutU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v & 0xFFFF));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}

void PutU64(std::string* out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v & 0xFFFFFFFFu));
  PutU32(out, static_cast<uint32_t>(v >> 32));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(GetU16(p)) | (static_cast<uint32_t>(GetU16(p + 2)) << 16);
}

uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

namespace {

constexpr uint16_t kVersionDefault = 20;
constexpr uint16_t kVersionZip64 = 45;

uint32_t Clamp32(uint64_t v) { return v >= kMax32 ? kMax32 : static_cast<uint32_t>(v); }

uint16_t NameLength(const Entry& entry) {
  return static_cast<uint16_t>(std::min<size_t>(entry.name.size(), kMax16));
}

}  // namespace

bool NeedsZip64Local(uint64_t uncompressedSize) {
  return uncompressedSize >= kZip64LocalThreshold;
}

bool FitsLocalHeader(const Entry& entry, bool zip64Local) {
  return zip64Local || (entry.compressedSize < kMax32 && entry.uncompressedSize < kMax32);
}

std::string LocalHeader(const Entry& entry, bool zip64Local) {
  std::string out;
  const uint16_t nameLength = NameLength(entry);
  out.reserve(kLocalHeaderSize + nameLength + kZip64LocalExtraSize);
  PutU32(&out, kLocalHeaderSig);
  PutU16(&out, zip64Local ? kVersionZip64 : kVersionDefault);
  PutU16(&out, entry.flags);
  PutU16(&out, entry.method);
  PutU16(&out, entry.modified.time);
  PutU16(&out, entry.modified.date);
  PutU32(&out, entry.crc);
  PutU32(&out, zip64Local ? kMax32 : Clamp32(entry.compressedSize));
  PutU32(&out, zip64Local ? kMax32 : Clamp32(entry.uncompressedSize));
  PutU16(&out, nameLength);
  PutU16(&out, static_cast<uint16_t>(zip64Local ? kZip64LocalExtraSize : 0));
  out.append(entry.name, 0, nameLength);
  if (zip64Local) {
    PutU16(&out, kExtraZip64);
    PutU16(&out, 16);
    PutU64(&out, entry.uncompressedSize);
    PutU64(&out, entry.compressedSize);
  }
  return out;
}

std::string CentralHeader(const Entry& entry) {
  std::string zip64;
  if (entry.uncompressedSize >= kMax32) PutU64(&zip64, entry.uncompressedSize);
  if (entry.compressedSize >= kMax32) PutU64(&zip64, entry.compressedSize);
  if (entry.localOffset >= kMax32) PutU64(&zip64, entry.localOffset);
  const uint16_t version = zip64.empty() ? kVersionDefault : kVersionZip64;
  const uint16_t nameLength = NameLength(entry);
  std::string extra;
  if (!zip64.empty()) {
    PutU16(&extra, kExtraZip64);
    PutU16(&extra, static_cast<uint16_t>(zip64.size()));
    extra += zip64;
  }
  if (entry.stamp.changed != 0) {
    PutU16(&extra, kExtraFileStamp);
    PutU16(&extra, entry.writtenCrc ? 20 : 16);
    PutU64(&extra, entry.stamp.written);
    PutU64(&extra, entry.stamp.changed);
    if (entry.writtenCrc) PutU32(&extra, *entry.writtenCrc);
  }

  std::string out;
  out.reserve(kCentralHeaderSize + nameLength + extra.size());
  PutU32(&out, kCentralHeaderSig);
  PutU16(&out, static_cast<uint16_t>((entry.versionMadeBy & 0xFF00) | version));
  PutU16(&out, version);
  PutU16(&out, entry.flags);
  PutU16(&out, entry.method);
  PutU16(&out, entry.modified.time);
  PutU16(&out, entry.modified.date);
  PutU32(&out, entry.crc);
  PutU32(&out, Clamp32(entry.compressedSize));
  PutU32(&out, Clamp32(entry.uncompressedSize));
  PutU16(&out, nameLength);
  PutU16(&out, static_cast<uint16_t>(extra.size()));
  PutU16(&out, 0);  // comment length
  PutU16(&out, 0);  // disk number
  PutU16(&out, 0);  // internal attributes
  PutU32(&out, entry.externalAttributes);
  PutU32(&out, Clamp32(entry.localOffset));
  out.append(entry.name, 0, nameLength);
  out += extra;
  return out;
}

std::string EndRecords(uint64_t entryCount, uint64_t cdOffset, uint64_t cdSize, bool forceZip64) {
  const bool zip64 = forceZip64 || entryCount >= kMax16 || cdOffset >= kMax32 || cdSize >= kMax32;
  std::string out;
  if (zip64) {
    const uint64_t zip64EndOffset = cdOffset + cdSize;
    PutU32(&out, kZip64EndSig);
    PutU64(&out, kZip64EndSize - 12);
    PutU16(&out, kVersionZip64);
    PutU16(&out, kVersionZip64);
    PutU32(&out, 0);  // this disk
    PutU32(&out, 0);  // disk with the central directory
    PutU64(&out, entryCount);
    PutU64(&out, entryCount);
    PutU64(&out, cdSize);
    PutU64(&out, cdOffset);
    PutU32(&out, kZip64LocatorSig);
    PutU32(&out, 0);
    PutU64(&out, zip64EndOffset);
    PutU32(&out, 1);  // total disks
  }
  const uint16_t count = zip64 ? kMax16 : static_cast<uint16_t>(entryCount);
  PutU32(&out, kEndSig);
  PutU16(&out, 0);
  PutU16(&out, 0);
  PutU16(&out, count);
  PutU16(&out, count);
  PutU32(&out, zip64 ? kMax32 : static_cast<uint32_t>(cdSize));
  PutU32(&out, zip64 ? kMax32 : static_cast<uint32_t>(cdOffset));
  PutU16(&out, 0);  // comment length
  return out;
}

std::optional<LocalHeaderFields> ParseLocalHeader(const uint8_t* p, size_t length) {
  if (length < kLocalHeaderSize || GetU32(p) != kLocalHeaderSig) return std::nullopt;
  LocalHeaderFields f;
  f.versionNeeded = GetU16(p + 4);
  f.flags = GetU16(p + 6);
  f.method = GetU16(p + 8);
  f.modified.time = GetU16(p + 10);
  f.modified.date = GetU16(p + 12);
  f.crc = GetU32(p + 14);
  f.compressedSize = GetU32(p + 18);
  f.uncompressedSize = GetU32(p + 22);
  f.nameLength = GetU16(p + 26);
  f.extraLength = GetU16(p + 28);
  return f;
}

std::optional<std::string_view> FindExtraRecord(std::string_view extra, uint16_t id) {
  size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + pos);
    const uint16_t recordId = GetU16(p);
    const size_t size = GetU16(p + 2);
    if (pos + 4 + size > extra.size()) return std::nullopt;
    if (recordId == id) return extra.substr(pos + 4, size);
    pos += 4 + size;
  }
  return std::nullopt;
}

FileStamp ReadFileStamp(std::string_view extra) {
  const auto record = FindExtraRecord(extra, kExtraFileStamp);
  if (!record || (record->size() != 16 && record->size() != 20)) return {};
  const auto* p = reinterpret_cast<const uint8_t*>(record->data());
  return {GetU64(p), GetU64(p + 8)};
}

std::optional<uint32_t> ReadProvedCrc(std::string_view extra) {
  const auto record = FindExtraRecord(extra, kExtraFileStamp);
  if (!record || record->size() != 20) return std::nullopt;
  return GetU32(reinterpret_cast<const uint8_t*>(record->data()) + 16);
}

bool ApplyLocalZip64(std::string_view extra, LocalHeaderFields* fields) {
  const bool needUncompressed = fields->uncompressedSize == kMax32;
  const bool needCompressed = fields->compressedSize == kMax32;
  if (!needUncompressed && !needCompressed) return true;
  const auto record = FindExtraRecord(extra, kExtraZip64);
  if (!record) return false;
  // In a local header the record holds both sizes, uncompressed first, whichever
  // of them the header marks.
  const auto* p = reinterpret_cast<const uint8_t*>(record->data());
  if (record->size() < (needCompressed ? 16u : 8u)) return false;
  if (needUncompressed) fields->uncompressedSize = GetU64(p);
  if (needCompressed) fields->compressedSize = GetU64(p + 8);
  return true;
}

}  // namespace vk::zip
