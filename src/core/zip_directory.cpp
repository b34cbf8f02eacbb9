#include "core/zip_directory.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "core/errors.h"

namespace vk::zip {

bool MemoryAccess::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset > data_.size() || length > data_.size() - offset) return false;
  std::memcpy(buffer, data_.data() + offset, length);
  return true;
}

namespace {

[[noreturn]] void Fail(const std::string& reason) { throw EZipDirError(reason); }

// Sequential reads through a window, so that a large central directory is parsed
// without holding it in memory.
class SequentialReader {
 public:
  SequentialReader(RandomAccess& file, uint64_t offset, uint64_t end)
      : file_(file), offset_(offset), end_(end) {}

  bool Read(void* out, size_t length) {
    auto* dst = static_cast<uint8_t*>(out);
    while (length > 0) {
      if (pos_ == buffer_.size()) {
        if (offset_ >= end_) return false;
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kWindow, end_ - offset_));
        buffer_.resize(chunk);
        if (!file_.ReadAt(offset_, buffer_.data(), chunk)) return false;
        offset_ += chunk;
        pos_ = 0;
      }
      const size_t n = std::min(length, buffer_.size() - pos_);
      std::memcpy(dst, buffer_.data() + pos_, n);
      pos_ += n, dst += n, length -= n;
    }
    return true;
  }

  bool ReadString(std::string* out, size_t length) {
    out->resize(length);
    return length == 0 || Read(out->data(), length);
  }

 private:
  static constexpr size_t kWindow = 64 * 1024;
  RandomAccess& file_;
  uint64_t offset_;
  uint64_t end_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
};

struct EndFields {
  uint64_t position = 0;
  uint16_t disk = 0;
  uint16_t cdDisk = 0;
  uint64_t diskEntries = 0;
  uint64_t entries = 0;
  uint64_t cdSize = 0;
  uint64_t cdOffset = 0;
};

EndFields FindEnd(RandomAccess& file) {
  const uint64_t size = file.Size();
  if (size < kEndSize) Fail("die Datei ist zu kurz für ein ZIP-Archiv");
  const size_t tailLength = static_cast<size_t>(std::min<uint64_t>(size, kEndSize + 0xFFFF));
  std::vector<uint8_t> tail(tailLength);
  const uint64_t tailStart = size - tailLength;
  if (!file.ReadAt(tailStart, tail.data(), tailLength)) Fail("die Datei kann nicht gelesen werden");
  // The last end record wins; one whose comment reaches exactly to the end of the
  // file is preferred over one followed by other bytes.
  size_t found = SIZE_MAX;
  for (size_t i = tailLength - kEndSize + 1; i-- > 0;) {
    if (GetU32(&tail[i]) != kEndSig) continue;
    const size_t commentLength = GetU16(&tail[i + 20]);
    if (i + kEndSize + commentLength == tailLength) {
      found = i;
      break;
    }
    if (found == SIZE_MAX && i + kEndSize + commentLength <= tailLength) found = i;
  }
  if (found == SIZE_MAX) Fail("kein Ende des Zentralverzeichnisses gefunden (kein ZIP-Archiv oder unvollständig)");
  const uint8_t* p = &tail[found];
  EndFields end;
  end.position = tailStart + found;
  end.disk = GetU16(p + 4);
  end.cdDisk = GetU16(p + 6);
  end.diskEntries = GetU16(p + 8);
  end.entries = GetU16(p + 10);
  end.cdSize = GetU32(p + 12);
  end.cdOffset = GetU32(p + 16);
  return end;
}

// Replaces the end record's fields by those of the ZIP64 end record, if there is
// one; returns where the end records begin.
uint64_t ApplyZip64End(RandomAccess& file, EndFields* end, bool* zip64) {
  *zip64 = false;
  if (end->position < kZip64LocatorSize) return end->position;
  const uint64_t locatorPos = end->position - kZip64LocatorSize;
  uint8_t locator[kZip64LocatorSize];
  if (!file.ReadAt(locatorPos, locator, sizeof locator) || GetU32(locator) != kZip64LocatorSig)
    return end->position;
  if (GetU32(locator + 4) != 0 || GetU32(locator + 16) > 1)
    Fail("mehrteilige Archive werden nicht unterstützt");
  // Normally the ZIP64 end record lies right before the locator; with bytes in
  // front of the archive the recorded offset is off by that many.
  uint8_t record[kZip64EndSize];
  uint64_t recordPos = GetU64(locator + 8);
  if (!(recordPos <= locatorPos - kZip64EndSize && file.ReadAt(recordPos, record, sizeof record) &&
        GetU32(record) == kZip64EndSig)) {
    if (locatorPos < kZip64EndSize) Fail("der ZIP64-Endeintrag fehlt");
    recordPos = locatorPos - kZip64EndSize;
    if (!file.ReadAt(recordPos, record, sizeof record) || GetU32(record) != kZip64EndSig)
      Fail("der ZIP64-Endeintrag fehlt");
  }
  end->disk = static_cast<uint16_t>(std::min<uint32_t>(GetU32(record + 16), 0xFFFF));
  end->cdDisk = static_cast<uint16_t>(std::min<uint32_t>(GetU32(record + 20), 0xFFFF));
  end->diskEntries = GetU64(record + 24);
  end->entries = GetU64(record + 32);
  end->cdSize = GetU64(record + 40);
  end->cdOffset = GetU64(record + 48);
  *zip64 = true;
  return recordPos;
}

// Fills the 0xFFFFFFFF fields of a central header from its ZIP64 extra record.
void ApplyCentralZip64(Entry* e, uint32_t rawUncompressed, uint32_t rawCompressed,
                       uint32_t rawOffset, uint16_t rawDisk) {
  const bool any = rawUncompressed == kMax32 || rawCompressed == kMax32 || rawOffset == kMax32 ||
                   rawDisk == kMax16;
  if (!any) {
    if (rawDisk != 0) Fail("mehrteilige Archive werden nicht unterstützt");
    return;
  }
  const auto record = FindExtraRecord(e->extra, kExtraZip64);
  if (!record) {
    // Without a ZIP64 record the values stand for themselves.
    if (rawDisk != 0 && rawDisk != kMax16) Fail("mehrteilige Archive werden nicht unterstützt");
    return;
  }
  const auto* p = reinterpret_cast<const uint8_t*>(record->data());
  size_t pos = 0;
  auto take = [&](uint64_t* field) {
    if (pos + 8 > record->size()) Fail("ein ZIP64-Zusatzfeld ist zu kurz");
    *field = GetU64(p + pos);
    pos += 8;
  };
  if (rawUncompressed == kMax32) take(&e->uncompressedSize);
  if (rawCompressed == kMax32) take(&e->compressedSize);
  if (rawOffset == kMax32) take(&e->localOffset);
  if (rawDisk == kMax16) {
    if (pos + 4 > record->size()) Fail("ein ZIP64-Zusatzfeld ist zu kurz");
    if (GetU32(p + pos) != 0) Fail("mehrteilige Archive werden nicht unterstützt");
  } else if (rawDisk != 0) {
    Fail("mehrteilige Archive werden nicht unterstützt");
  }
}

}  // namespace

Directory ReadDirectory(RandomAccess& file) {
  EndFields end = FindEnd(file);
  Directory dir;
  const uint64_t endStart = ApplyZip64End(file, &end, &dir.zip64);
  if (end.disk != 0 || end.cdDisk != 0 || end.diskEntries != end.entries)
    Fail("mehrteilige Archive werden nicht unterstützt");
  if (end.cdSize > endStart || end.cdOffset > endStart - end.cdSize)
    Fail("das Zentralverzeichnis liegt außerhalb der Datei");
  dir.prefix = endStart - end.cdSize - end.cdOffset;
  dir.centralOffset = end.cdOffset + dir.prefix;
  dir.centralSize = end.cdSize;
  if (end.entries > end.cdSize / kCentralHeaderSize)
    Fail("das Zentralverzeichnis ist kürzer als seine Einträge");

  SequentialReader reader(file, dir.centralOffset, dir.centralOffset + dir.centralSize);
  dir.entries.reserve(static_cast<size_t>(end.entries));
  for (uint64_t i = 0; i < end.entries; ++i) {
    uint8_t h[kCentralHeaderSize];
    if (!reader.Read(h, sizeof h)) Fail("das Zentralverzeichnis ist unvollständig");
    if (GetU32(h) != kCentralHeaderSig) Fail("das Zentralverzeichnis ist beschädigt");
    Entry e;
    e.versionMadeBy = GetU16(h + 4);
    e.versionNeeded = GetU16(h + 6);
    e.flags = GetU16(h + 8);
    e.method = GetU16(h + 10);
    e.modified.time = GetU16(h + 12);
    e.modified.date = GetU16(h + 14);
    e.crc = GetU32(h + 16);
    const uint32_t compressed = GetU32(h + 20);
    const uint32_t uncompressed = GetU32(h + 24);
    const uint16_t nameLength = GetU16(h + 28);
    const uint16_t extraLength = GetU16(h + 30);
    const uint16_t commentLength = GetU16(h + 32);
    const uint16_t disk = GetU16(h + 34);
    e.externalAttributes = GetU32(h + 38);
    const uint32_t offset = GetU32(h + 42);
    e.compressedSize = compressed;
    e.uncompressedSize = uncompressed;
    e.localOffset = offset;
    std::string comment;
    if (!reader.ReadString(&e.name, nameLength) || !reader.ReadString(&e.extra, extraLength) ||
        !reader.ReadString(&comment, commentLength))
      Fail("das Zentralverzeichnis ist unvollständig");
    ApplyCentralZip64(&e, uncompressed, compressed, offset, disk);
    e.stamp = ReadFileStamp(e.extra);
    e.writtenCrc = ReadProvedCrc(e.extra);
    if (e.localOffset >= end.cdOffset) Fail("ein Eintrag liegt außerhalb der Daten");
    e.localOffset += dir.prefix;
    dir.entries.push_back(std::move(e));
  }
  return dir;
}

bool LocateData(RandomAccess& file, Entry* entry) {
  uint8_t h[kLocalHeaderSize];
  if (!file.ReadAt(entry->localOffset, h, sizeof h)) return false;
  const auto fields = ParseLocalHeader(h, sizeof h);
  if (!fields) return false;
  entry->dataOffset = entry->localOffset + kLocalHeaderSize + fields->nameLength + fields->extraLength;
  return entry->dataOffset <= file.Size();
}

const char* RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone: return "";
    case Refusal::kBadName: return "unzulässiger Name";
    case Refusal::kNameEncoding: return "der Name ist als UTF-8 markiert, aber kein gültiges UTF-8";
    case Refusal::kDuplicate: return "ein Eintrag dieses Namens kommt im Archiv schon vor";
    case Refusal::kOverlap: return "seine Daten überschneiden sich mit anderen Daten des Archivs";
    case Refusal::kLocalHeader: return "sein lokaler Kopf fehlt oder ist beschädigt";
    case Refusal::kSymbolicLink: return "symbolische Verknüpfungen werden nicht entpackt";
    case Refusal::kEncrypted: return "verschlüsselte Einträge werden nicht unterstützt";
    case Refusal::kMethod: return "das Kompressionsverfahren wird nicht unterstützt";
    case Refusal::kStoredSizes: return "gespeicherte und angegebene Größe stimmen nicht überein";
  }
  return "";
}

namespace {

// Marks every entry whose bytes, local header to end of data, overlap those of
// another entry or reach into the central directory.
std::vector<bool> FindOverlaps(const Directory& dir, const std::vector<bool>& located) {
  struct Span {
    uint64_t begin, end;
    size_t index;
  };
  std::vector<Span> spans;
  std::vector<bool> overlap(dir.entries.size(), false);
  for (size_t i = 0; i < dir.entries.size(); ++i) {
    if (!located[i]) continue;
    const Entry& e = dir.entries[i];
    const uint64_t end = e.dataOffset + e.compressedSize;
    if (e.compressedSize > dir.centralOffset || e.dataOffset > dir.centralOffset - e.compressedSize)
      overlap[i] = true;
    spans.push_back({e.localOffset, end < e.dataOffset ? UINT64_MAX : end, i});
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  uint64_t reach = 0;
  size_t reacher = SIZE_MAX;
  for (const Span& s : spans) {
    if (reacher != SIZE_MAX && s.begin < reach) {
      overlap[s.index] = true;
      overlap[reacher] = true;
    }
    if (s.end > reach || reacher == SIZE_MAX) {
      reach = s.end;
      reacher = s.index;
    }
  }
  return overlap;
}

bool Selected(const std::vector<std::u16string>& specs, const std::u16string& name) {
  if (specs.empty()) return true;
  std::u16string bare = name;
  if (!bare.empty() && bare.back() == u'/') bare.pop_back();
  for (const auto& spec : specs) {
    const std::u16string pattern = SlashesToForward(spec);
    if (MatchWildcard(pattern, name) || MatchWildcard(pattern, bare)) return true;
  }
  return false;
}

std::u16string LastStep(const std::u16string& name) {
  const size_t slash = name.rfind(u'/');
  return slash == std::u16string::npos ? name : name.substr(slash + 1);
}

}  // namespace

ExtractionPlan PlanExtraction(RandomAccess& file, Directory& dir, bool keepDirs,
                              const std::vector<std::u16string>& specs, const NameRules& rules) {
  std::vector<bool> located(dir.entries.size());
  for (size_t i = 0; i < dir.entries.size(); ++i) located[i] = LocateData(file, &dir.entries[i]);
  const std::vector<bool> overlap = FindOverlaps(dir, located);

  ExtractionPlan plan;
  std::vector<bool> specUsed(specs.size(), false);
  // A specification without a wildcard names one entry: it is looked up by its folded
  // name, so that thousands of names cost no more than one pass.
  std::unordered_map<std::u16string, std::vector<size_t>> literal;
  std::vector<size_t> patterns;
  for (size_t s = 0; s < specs.size(); ++s) {
    if (HasWildcard(specs[s]))
      patterns.push_back(s);
    else
      literal[FoldCase(SlashesToForward(specs[s]))].push_back(s);
  }
  std::unordered_set<std::u16string> targets, folders;
  for (size_t i = 0; i < dir.entries.size(); ++i) {
    const Entry& e = dir.entries[i];
    PlannedEntry p;
    p.index = i;
    const auto decoded = DecodeEntryName(e, *rules.oem);
    p.name = SlashesToForward(decoded ? *decoded : DecodeOem(e.name, *rules.oem));
    p.directory = !p.name.empty() && p.name.back() == u'/';
    if (decoded && keepDirs && CheckExtractName(p.name) == NameProblem::kOk) {
      std::u16string folder = p.name.substr(0, p.name.size() - (p.directory ? 1 : 0));
      const size_t slash = folder.rfind(u'/');
      folder.resize(p.directory ? folder.size() : (slash == std::u16string::npos ? 0 : slash));
      std::replace(folder.begin(), folder.end(), u'/', u'\\');
      if (folders.insert(rules.fold(folder)).second) plan.folders.push_back(std::move(folder));
    }
    if (!specs.empty()) {
      bool any = false;
      const std::u16string folded = FoldCase(p.name);
      for (const std::u16string& key : {folded, p.directory ? folded.substr(0, folded.size() - 1) : folded}) {
        auto named = literal.find(key);
        if (named == literal.end()) continue;
        for (size_t s : named->second) specUsed[s] = any = true;
      }
      for (size_t s : patterns) {
        if (Selected({specs[s]}, p.name)) specUsed[s] = any = true;
      }
      if (!any) continue;
    }
    if (p.directory && !keepDirs) continue;  // directories come only with their paths

    std::u16string path = p.name;
    if (p.directory) path.pop_back();
    p.target = keepDirs ? path : LastStep(path);
    std::replace(p.target.begin(), p.target.end(), u'/', u'\\');

    if (!decoded) {
      p.refusal = Refusal::kNameEncoding;
    } else if ((p.nameProblem = CheckExtractName(p.name)) != NameProblem::kOk) {
      p.refusal = Refusal::kBadName;
    } else if (e.IsSymbolicLink()) {
      p.refusal = Refusal::kSymbolicLink;
    } else if (!p.directory) {
      // A later entry of the same name is refused even when the first one is.
      const bool duplicate = !targets.insert(rules.fold(p.target)).second;
      if (!located[i]) p.refusal = Refusal::kLocalHeader;
      else if (overlap[i]) p.refusal = Refusal::kOverlap;
      else if (duplicate) p.refusal = Refusal::kDuplicate;
      else if (e.flags & (kFlagEncrypted | kFlagStrongEncryption)) p.refusal = Refusal::kEncrypted;
      else if (e.method != kMethodStored && e.method != kMethodDeflated) p.refusal = Refusal::kMethod;
      else if (e.method == kMethodStored && e.compressedSize != e.uncompressedSize)
        p.refusal = Refusal::kStoredSizes;
    }
    plan.entries.push_back(std::move(p));
  }
  for (size_t s = 0; s < specs.size(); ++s)
    if (!specUsed[s]) plan.unmatchedSpecs.push_back(s);
  return plan;
}

}  // namespace vk::zip
