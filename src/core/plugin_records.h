#pragma once
// The host plug-in protocol's portable half: message numbers, block names and the
// two records that travel in shared blocks, as fixed little-endian byte layouts
// (the same bytes on the 32-bit and the 64-bit build).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vk::host {

// Messages between the plug-in and the host. wParam and lParam carry 32-bit values.
namespace msg {
inline constexpr uint32_t kQueueProbe = 1024;        // peeked by the listener to get a queue
inline constexpr uint32_t kConnect = 1025;           // plug-in -> host window, sent: wParam listener id, lParam main thread id
inline constexpr uint32_t kReply = 1027;             // either way: the answer to a request, in lParam
inline constexpr uint32_t kDisconnect = 1029;        // either way: the sender goes away
inline constexpr uint32_t kInfoRequest = 1030;       // host -> listener: lParam = host thread to notify
inline constexpr uint32_t kVersionQuery = 1031;      // plug-in -> host: answered with the interface version
inline constexpr uint32_t kRegisterService = 1037;   // plug-in -> host: lParam = registration block size
inline constexpr uint32_t kUnregisterService = 1038; // plug-in -> host: lParam = service id
inline constexpr uint32_t kListenerQuit = 1040;      // plug-in -> its own listener: end the loop
inline constexpr uint32_t kFirstListener = 1025;     // the listener takes only 1025..3072
inline constexpr uint32_t kLastListener = 3072;
inline constexpr uint32_t kFirstCommand = 2048;      // service commands
inline constexpr uint32_t kLastCommand = 3072;
}  // namespace msg

// The host's answer to 1038 for a service that it does not know (E_NOTIMPL).
inline constexpr uint32_t kUnknownServiceCode = 0x80004001u;

// The host's main window.
inline constexpr char kHostWindowClass[] = "TKSMainWindow";

// Block name prefixes; the name goes on with a thread id (BlockName).
inline constexpr char kPluginInfoPrefix[] = "KSPluginInfo";
inline constexpr char kRegisterServicePrefix[] = "KSRegisterService";

// prefix + the thread id as exactly 8 upper-case hexadecimal digits.
std::string BlockName(const std::string& prefix, uint32_t threadId);

// A length-prefixed text in a 256-byte field: one length byte, then the characters.
inline constexpr size_t kShortStringSize = 256;
// Longer texts are cut to 255 characters.
void PutShortString(uint8_t* field, const std::string& text);
std::string GetShortString(const uint8_t* field);

void PutInt32(uint8_t* at, int32_t value);
int32_t GetInt32(const uint8_t* at);

// The plug-in's self-description.
class TPluginInfo {
 public:
  static constexpr size_t kSize = 784;
  static constexpr size_t kNameOffset = 0;
  static constexpr size_t kCopyrightOffset = 256;
  static constexpr size_t kDescriptionOffset = 512;
  static constexpr size_t kVersionOffset = 768;
  static constexpr size_t kRevisionOffset = 772;
  static constexpr size_t kAPIRequieredOffset = 776;
  static constexpr size_t kAPISupportedOffset = 780;

  TPluginInfo() { bytes_.fill(0); }

  std::string PIName() const { return GetShortString(&bytes_[kNameOffset]); }
  std::string PICopyright() const { return GetShortString(&bytes_[kCopyrightOffset]); }
  std::string PIDescription() const { return GetShortString(&bytes_[kDescriptionOffset]); }
  int32_t PIVersion() const { return GetInt32(&bytes_[kVersionOffset]); }
  int32_t PIRevision() const { return GetInt32(&bytes_[kRevisionOffset]); }
  int32_t PIAPIRequiered() const { return GetInt32(&bytes_[kAPIRequieredOffset]); }
  int32_t PIAPISupported() const { return GetInt32(&bytes_[kAPISupportedOffset]); }

  void SetPIName(const std::string& v) { PutShortString(&bytes_[kNameOffset], v); }
  void SetPICopyright(const std::string& v) { PutShortString(&bytes_[kCopyrightOffset], v); }
  void SetPIDescription(const std::string& v) { PutShortString(&bytes_[kDescriptionOffset], v); }
  void SetPIVersion(int32_t v) { PutInt32(&bytes_[kVersionOffset], v); }
  void SetPIRevision(int32_t v) { PutInt32(&bytes_[kRevisionOffset], v); }
  void SetPIAPIRequiered(int32_t v) { PutInt32(&bytes_[kAPIRequieredOffset], v); }
  void SetPIAPISupported(int32_t v) { PutInt32(&bytes_[kAPISupportedOffset], v); }

  const uint8_t* Bytes() const { return bytes_.data(); }
  // Reads a record from a block of at least kSize bytes.
  static TPluginInfo FromBytes(const uint8_t* data);

 private:
  std::array<uint8_t, kSize> bytes_;
};
static_assert(sizeof(TPluginInfo) == 784, "TPluginInfo is a fixed 784-byte layout");

// One service's registration.
class TServiceRecord {
 public:
  static constexpr size_t kSize = 528;
  static constexpr size_t kReservedOffset = 0;
  static constexpr size_t kTitleOffset = 4;
  static constexpr size_t kDescriptionOffset = 260;
  static constexpr size_t kCommandOffset = 516;
  static constexpr size_t kListenerOffset = 520;

  TServiceRecord() { bytes_.fill(0); }

  uint32_t Reserved() const { return static_cast<uint32_t>(GetInt32(&bytes_[kReservedOffset])); }
  std::string Title() const { return GetShortString(&bytes_[kTitleOffset]); }
  std::string Description() const { return GetShortString(&bytes_[kDescriptionOffset]); }
  int32_t Command() const { return GetInt32(&bytes_[kCommandOffset]); }
  uint32_t ListenerThreadID() const {
    return static_cast<uint32_t>(GetInt32(&bytes_[kListenerOffset]));
  }

  // The one-byte field is widened to 32 bits on the wire.
  void SetReserved(uint8_t v) { PutInt32(&bytes_[kReservedOffset], v); }
  void SetTitle(const std::string& v) { PutShortString(&bytes_[kTitleOffset], v); }
  void SetDescription(const std::string& v) { PutShortString(&bytes_[kDescriptionOffset], v); }
  void SetCommand(int32_t v) { PutInt32(&bytes_[kCommandOffset], v); }
  void SetListenerThreadID(uint32_t v) {
    PutInt32(&bytes_[kListenerOffset], static_cast<int32_t>(v));
  }

  const uint8_t* Bytes() const { return bytes_.data(); }
  static TServiceRecord FromBytes(const uint8_t* data);

 private:
  std::array<uint8_t, kSize> bytes_;
};
static_assert(sizeof(TServiceRecord) == 528, "TServiceRecord is a fixed 528-byte layout");

// A block handed to the host is the data followed by one zero byte.
std::vector<uint8_t> TerminatedBlock(const uint8_t* data, size_t size);
inline constexpr size_t kRegistrationBlockSize = TServiceRecord::kSize + 1;
static_assert(kRegistrationBlockSize == 529, "the registration block is 529 bytes");

}  // namespace vk::host
