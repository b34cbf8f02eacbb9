#pragma once
// The two primitives the host protocol is built from: a named block of shared
// memory backed by the paging file, and a post that waits for the host's 1027 reply.
#include <windows.h>

#include <cstdint>
#include <string>

namespace vk::host {

// Owns one kernel handle and closes it on destruction.
class THandledObject {
 public:
  THandledObject() = default;
  virtual ~THandledObject();
  THandledObject(const THandledObject&) = delete;
  THandledObject& operator=(const THandledObject&) = delete;

  HANDLE Handle() const { return handle_; }

 protected:
  HANDLE handle_ = nullptr;
};

// A named shared block. Creation never raises: read Created and Buffer.
class TSharedMem : public THandledObject {
 public:
  TSharedMem(const std::string& name, uint32_t size);
  ~TSharedMem() override;

  const std::string& MapName() const { return mapName_; }
  uint32_t Size() const { return size_; }
  // True only when this creation made a new block; an existing name gives false.
  bool Created() const { return created_; }
  // This process's read-write view; null when the block could not be made or mapped.
  uint8_t* Buffer() const { return buffer_; }

 private:
  std::string mapName_;
  uint32_t size_;
  bool created_ = false;
  uint8_t* buffer_ = nullptr;
};

// Every wait for a host reply is bounded, so a host that stops answering cannot
// freeze the plug-in; a wait that runs out counts as a failed step.
inline constexpr DWORD kHostReplyTimeoutMs = 5000;
DWORD HostReplyTimeout();
// Tests shorten the bound; 0 restores the default.
void SetHostReplyTimeout(DWORD milliseconds);

// Posts (message, wParam, lParam) to a thread and waits in the calling thread's queue
// for the next 1027, whose lParam (32 bits) becomes the reply. Other posted messages
// stay queued in order; messages sent to this thread's windows are handled meanwhile.
// False, with reply untouched, when the post fails, the wait runs out, or the wait
// takes the quit request (which is posted again so the thread's own loop ends too).
bool SendCommand(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam, int32_t& reply);

// The low 32 bits of a message parameter: the protocol's values are 32-bit.
inline uint32_t Low32(LPARAM value) { return static_cast<uint32_t>(static_cast<uintptr_t>(value)); }

}  // namespace vk::host
