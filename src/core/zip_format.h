#pragma once
// The records of a ZIP archive (PKWARE APPNOTE): local file header, central
// directory header and end records, with ZIP64 where sizes, offsets or the entry
// count need it; DOS date and time; CRC-32.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vk::zip {

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kZip64EndSig = 0x06064b50;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
// Size of the ZIP64 extra field that a local header carries: both sizes.
constexpr size_t kZip64LocalExtraSize = 20;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraUnicodePath = 0x7075;
// This program's own record ("VK"), in the central directory only: the file's stamp,
// then, when the data were proved as they were compressed, their CRC-32 as stored.
constexpr uint16_t kExtraFileStamp = 0x4B56;

constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFF;

// Files from this size on get a ZIP64 extra field in their local header, decided
// before the data is written: deflate may grow incompressible data a little, and
// the header's size cannot grow once the data follows it.
constexpr uint64_t kZip64LocalThreshold = 0xFF000000u;

uint32_t Crc32(uint32_t crc, const void* data, size_t length);
// The CRC of A followed by B, from the CRCs of A and B and the length of B.
uint32_t CombineCrc32(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

struct DosDateTime {
  uint16_t time = 0;
  uint16_t date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
  bool operator==(const DosDateTime& o) const { return time == o.time && date == o.date; }
};

struct CivilTime {
  int year = 1980;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Years before 1980 become 1980-01-01 00:00:00, years after 2107 the last DOS
// second; odd seconds are rounded down, as the format keeps two-second steps.
DosDateTime ToDosDateTime(const CivilTime& t);
CivilTime FromDosDateTime(DosDateTime d);

// One entry as the central directory describes it; when an archive is read,
// dataOffset is filled from the entry's local header.
// When the file was last written and last changed in any way (content, size,
// attributes, name), as 100 ns units since 1601, taken before its data were read.
// The change time is kept by the file system and cannot be set back by a program,
// so a later backup that finds both unchanged may take the data over unread.
struct FileStamp {
  uint64_t written = 0;
  uint64_t changed = 0;  // 0: none recorded
  bool operator==(const FileStamp& o) const { return written == o.written && changed == o.changed; }
};

struct Entry {
  std::string name;   // the stored bytes, "/" as separator
  std::string extra;  // central extra field as read (not written back)
  FileStamp stamp;    // written to the central header when recorded
  uint16_t versionMadeBy = 20;
  uint16_t versionNeeded = 20;
  uint16_t flags = 0;
  uint16_t method = kMethodDeflated;
  DosDateTime modified;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t localOffset = 0;
  uint32_t externalAttributes = 0;
  uint64_t dataOffset = 0;
  // Set by a writer that proved in memory that the data it wrote reproduce the
  // entry's bytes: their CRC-32 as written, which the file must then hold. Read
  // from an archive: the one such a writer recorded beside the stamp.
  std::optional<uint32_t> writtenCrc;

  bool IsDirectory() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
  // A Unix symbolic link, or an entry marked with the reparse-point attribute.
  bool IsSymbolicLink() const;
  // Stored or deflated and not encrypted: data this engine can read and copy.
  bool HasPlainData() const {
    return (method == kMethodStored || method == kMethodDeflated) &&
           !(flags & (kFlagEncrypted | kFlagStrongEncryption));
  }
};

bool NeedsZip64Local(uint64_t uncompressedSize);
// The local header of an entry; with zip64Local its sizes are in a ZIP64 extra
// field (kZip64LocalExtraSize bytes). Its length does not depend on the sizes.
std::string LocalHeader(const Entry& entry, bool zip64Local);
// False when the sizes no longer fit the header decided by zip64Local.
bool FitsLocalHeader(const Entry& entry, bool zip64Local);
std::string CentralHeader(const Entry& entry);
// The end records of an archive whose central directory of entryCount entries
// starts at cdOffset: ZIP64 end record and locator when needed (or forced), then
// the classic end record.
std::string EndRecords(uint64_t entryCount, uint64_t cdOffset, uint64_t cdSize,
                       bool forceZip64 = false);

// The fixed part of a local header (kLocalHeaderSize bytes, signature included).
struct LocalHeaderFields {
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  DosDateTime modified;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
};
std::optional<LocalHeaderFields> ParseLocalHeader(const uint8_t* bytes, size_t length);
// Replaces the 0xFFFFFFFF sizes of a local header by those of its ZIP64 extra
// field, which there always holds both sizes. False when a size is marked but the
// field does not carry it.
bool ApplyLocalZip64(std::string_view extra, LocalHeaderFields* fields);

// The data of the first extra record with this id, if the field holds one.
std::optional<std::string_view> FindExtraRecord(std::string_view extra, uint16_t id);
// The stamp recorded in a central extra field; none when absent or malformed.
FileStamp ReadFileStamp(std::string_view extra);
// The CRC-32 of the proved data recorded beside the stamp; none when absent.
std::optional<uint32_t> ReadProvedCrc(std::string_view extra);

// Little-endian helpers shared by the writers and readers.
void PutU16(std::string* out, uint16_t v);
void PutU32(std::string* out, uint32_t v);
void PutU64(std::string* out, uint64_t v);
uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);
uint64_t GetU64(const uint8_t* p);

}  // namespace vk::zip
