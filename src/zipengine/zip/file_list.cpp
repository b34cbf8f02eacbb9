#include "zipengine/zip/file_list.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "core/stage_log.h"
#include "core/zip_names.h"
#include "zipengine/common/test_fault.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

std::u16string ArchiveName(const std::wstring& path, bool keepDirs) {
  std::wstring p = path;
  std::replace(p.begin(), p.end(), L'/', L'\\');
  size_t start = 0;
  if (p.size() >= 2 && p[1] == L':') {
    start = 2;
  } else if (p.compare(0, 2, L"\\\\") == 0) {
    // \\server\share\rest: the share is no part of the name.
    const size_t server = p.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : p.find(L'\\', server + 1);
    start = share == std::wstring::npos ? p.size() : share;
  }
  std::vector<std::wstring> steps;
  while (start <= p.size()) {
    const size_t slash = p.find(L'\\', start);
    const std::wstring step = p.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
    if (!step.empty() && step != L"." && step != L"..") steps.push_back(step);
    if (slash == std::wstring::npos) break;
    start = slash + 1;
  }
  if (steps.empty()) return {};
  if (!keepDirs) return ToU16(steps.back());
  std::wstring joined;
  for (const auto& step : steps) joined += (joined.empty() ? L"" : L"/") + step;
  return ToU16(joined);
}

namespace {

// A path as the file system takes it: relative ones below base.
std::wstring Resolve(const std::wstring& base, const std::wstring& path) {
  const bool relative = !(path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'))) &&
                        !(!path.empty() && path[0] == L'\\');
  if (!relative) return path;
  return base.empty() || base.back() == L'\\' ? base + path : base + L'\\' + path;
}

}  // namespace

std::wstring SourcePath(const std::wstring& base, const std::wstring& path) { return FullPath(Resolve(base, path)); }

namespace {

struct Found {
  std::wstring name;
  uint64_t size = 0;
  FILETIME modified{};
  uint64_t changed = 0;
  uint32_t attributes = 0;
};

struct Listing {
  std::vector<Found> files;
  std::vector<std::wstring> dirs;
};

Listing ListDirectory(const std::wstring& dir) {
  Listing listing;
  std::vector<FolderEntry> entries;
  if (!ListFolder(dir, &entries)) return listing;
  for (FolderEntry& e : entries) {
    if (e.facts.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or link could lead back up the tree.
      if (!(e.facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) listing.dirs.push_back(std::move(e.name));
    } else {
      listing.files.push_back(
          {std::move(e.name), e.facts.size, e.facts.modified, e.facts.changed, e.facts.attributes});
    }
  }
  auto byName = [](const std::wstring& a, const std::wstring& b) {
    const auto fa = zip::FoldCase(ToU16(a)), fb = zip::FoldCase(ToU16(b));
    return fa != fb ? fa < fb : a < b;
  };
  std::sort(listing.files.begin(), listing.files.end(),
            [&](const Found& a, const Found& b) { return byName(a.name, b.name); });
  std::sort(listing.dirs.begin(), listing.dirs.end(), byName);
  return listing;
}

}  // namespace

// The listing's side of the feed: files gather here and go over to the taking thread
// a folder at a time, or before a message, so that the two keep their order.
class FileFeed::Listing {
 public:
  explicit Listing(FileFeed& feed) : feed_(feed) {}

  bool KeepAlive() const { return !feed_.stop_; }
  bool Stopped() const { return feed_.stop_; }
  void Add(SourceFile file) { pending_.push_back(std::move(file)); }
  bool Message(int32_t code, std::string_view text) {
    Flush();
    auto lock = feed_.signal_.Lock();
    feed_.messages_.push_back({feed_.found_.size(), {code, std::string(text)}});
    feed_.signal_.Notify();
    return !feed_.stop_;
  }
  void Flush() {
    if (pending_.empty()) return;
    auto lock = feed_.signal_.Lock();
    if (feed_.found_.empty()) {
      feed_.found_.swap(pending_);
    } else {
      for (auto& f : pending_) feed_.found_.push_back(std::move(f));
      pending_.clear();
    }
    feed_.signal_.Notify();
  }

 private:
  FileFeed& feed_;
  std::vector<SourceFile> pending_;
};

namespace {

class Collector {
 public:
  Collector(const CollectOptions& options, FileFeed::Listing& listing) : options_(options), listing_(listing) {
    for (const auto& path : options.excluded) excluded_.insert(zip::FoldCase(ToU16(path)));
    base_ = options.base;
    if (!base_.empty() && base_.back() != L'\\') base_ += L'\\';
  }

  void AddSpec(std::wstring spec, bool literal) {
    std::replace(spec.begin(), spec.end(), L'/', L'\\');
    const size_t cut = spec.find_last_of(L"\\:") + 1;  // npos + 1 == 0
    const std::wstring dir = spec.substr(0, cut), pattern = spec.substr(cut);
    const size_t before = matched_;
    bool reported = false;
    if (!literal && zip::HasWildcard(ToU16(pattern))) {
      AddMatches(dir, pattern);
    } else {
      FileFacts facts;
      const bool exists = !spec.empty() && QueryFile(Resolve(spec), &facts);
      const DWORD attributes = facts.attributes;
      if (!exists) {
        // fall through to the report below
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (options_.recurse) {
          const bool endsInSlash = spec.back() == L'\\' || spec.back() == L':';
          AddMatches(endsInSlash ? spec : spec + L"\\", L"*");
          if (matched_ == before && !listing_.Stopped()) {
            listing_.Message(kErrFileNotFound,
                              "Verzeichnis " + Quoted(WideToAnsi(spec)) + " enthält keine Dateien");
            reported = true;
          }
        } else {
          listing_.Message(kErrFileSkipped, "Verzeichnis " + Quoted(WideToAnsi(spec)) +
                                                 " wird ohne Unterverzeichnisse nicht gepackt");
          reported = true;
        }
      } else {
        AddFile(spec, {spec, facts.size, facts.modified, facts.changed, facts.attributes});
      }
    }
    if (matched_ == before && !reported && !listing_.Stopped())
      listing_.Message(kErrFileNotFound, "Datei " + Quoted(WideToAnsi(spec)) + " nicht gefunden");
  }

  // A file that its writer has just finished: one that is not there adds nothing,
  // as its writer tells why. It is among the excluded paths, so that no listing
  // takes it half-written, and is itself the exception.
  void AddWritten(std::wstring spec) {
    std::replace(spec.begin(), spec.end(), L'/', L'\\');
    FileFacts facts;
    if (QueryFile(Resolve(spec), &facts) && !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY))
      AddFile(spec, {spec, facts.size, facts.modified, facts.changed, facts.attributes}, false);
  }

  // The files lying directly in dir, found by one read of it: an empty or missing
  // directory adds nothing and is not reported, as a folder is not a name.
  void AddFolder(std::wstring dir) {
    std::replace(dir.begin(), dir.end(), L'/', L'\\');
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L':') dir += L'\\';
    if (!listing_.KeepAlive()) return;
    for (const auto& found : ListDirectory(Resolve(dir)).files) {
      if (!listing_.KeepAlive()) return;
      AddFile(dir + found.name, found);
    }
  }

 private:
  void AddMatches(const std::wstring& dir, const std::wstring& pattern) {
    if (!listing_.KeepAlive()) return;
    const Listing listing = ListDirectory(Resolve(dir));
    for (const auto& found : listing.files) {
      if (listing_.Stopped()) return;
      if (zip::MatchWildcard(ToU16(pattern), ToU16(found.name))) AddFile(dir + found.name, found);
    }
    if (!options_.recurse) return;
    for (const auto& sub : listing.dirs) AddMatches(dir + sub + L"\\", pattern);
  }

  void AddFile(const std::wstring& path, const Found& found, bool excludable = true) {
    ++matched_;
    if (excludable && excluded_.count(zip::FoldCase(ToU16(SourcePath(base_, path))))) return;
    const std::u16string name = ArchiveName(path, options_.keepDirs);
    if (name.empty()) return;
    if (zip::EncodeUtf8(name).size() > zip::kMax16) {
      listing_.Message(kErrFileSkipped, "Datei " + Quoted(WideToAnsi(path)) +
                                             " hat einen zu langen Namen für ein ZIP-Archiv und wird nicht gepackt");
      return;
    }
    if (!names_.insert(zip::FoldCase(name)).second) {
      listing_.Message(kErrFileSkipped, "Datei " + Quoted(WideToAnsi(path)) +
                                             " kommt im Archiv schon vor und wird nur einmal gepackt");
      return;
    }
    listing_.Add({path, found.size, found.modified, found.changed, found.attributes});
  }

  std::wstring Resolve(const std::wstring& path) const { return vk::engine::Resolve(base_, path); }

  const CollectOptions& options_;
  FileFeed::Listing& listing_;
  std::wstring base_;
  std::unordered_set<std::u16string> excluded_;
  std::unordered_set<std::u16string> names_;
  size_t matched_ = 0;
};

}  // namespace

FileFeed::FileFeed(std::vector<std::wstring> specs, CollectOptions options)
    : specs_(std::move(specs)), options_(std::move(options)), thread_(std::make_unique<zip::WorkerPool>(1)) {
  thread_->Submit([this] { Run(); });
}

FileFeed::~FileFeed() {
  stop_ = true;
  thread_.reset();
}

void FileFeed::Run() {
  std::exception_ptr failure;
  try {
    if (TestFaultMet(kListingHeld))
      for (int wait = 0; wait < 3000 && !stop_; ++wait) Sleep(10);
    Listing listing(*this);
    Collector collector(options_, listing);
    for (size_t i = 0; i < specs_.size() && !stop_; ++i) {
      const HANDLE awaited = i < options_.awaited.size() ? options_.awaited[i] : nullptr;
      if (awaited) {
        if (Written(awaited)) collector.AddWritten(specs_[i]);
      } else if (i < options_.folder.size() && options_.folder[i])
        collector.AddFolder(specs_[i]);
      else
        collector.AddSpec(specs_[i], i < options_.literal.size() && options_.literal[i]);
      listing.Flush();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  LogStage("collected");
  auto lock = signal_.Lock();
  failure_ = failure;
  ended_ = true;
  signal_.Notify();
}

bool FileFeed::Written(HANDLE event) {
  for (;;) {
    if (stop_) return false;
    const DWORD waited = WaitForSingleObject(event, 10);
    if (waited != WAIT_TIMEOUT) return waited == WAIT_OBJECT_0;
  }
}

bool FileFeed::Take(std::deque<SourceFile>* files, Reporter& reporter, unsigned waitMs) {
  std::vector<SourceFile> found;
  decltype(messages_) messages;
  bool ended;
  {
    auto lock = signal_.Lock();
    signal_.WaitFor(lock, waitMs, [this] { return ended_ || !found_.empty() || !messages_.empty(); });
    found.swap(found_);
    messages.swap(messages_);
    ended = ended_;
    if (failure_) std::rethrow_exception(failure_);
  }
  size_t next = 0;
  for (auto& [at, message] : messages) {
    for (; next < at; ++next) files->push_back(std::move(found[next]));
    if (!reporter.Message(message.first, message.second)) break;
  }
  for (; next < found.size(); ++next) files->push_back(std::move(found[next]));
  if (reporter.Stopped()) stop_ = true;
  return !ended;
}

}  // namespace vk::engine
