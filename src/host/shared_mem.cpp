#include "host/shared_mem.h"

#include <algorithm>
#include <atomic>

#include "core/plugin_records.h"

namespace vk::host {

THandledObject::~THandledObject() {
  if (handle_) CloseHandle(handle_);
}

TSharedMem::TSharedMem(const std::string& name, uint32_t size) : mapName_(name), size_(size) {
  handle_ = CreateFileMappingA(INVALID_HANDLE_VALUE, /*lpAttributes=*/nullptr, PAGE_READWRITE,
                               /*dwMaximumSizeHigh=*/0, size, name.c_str());
  if (!handle_) return;
  created_ = GetLastError() == ERROR_SUCCESS;
  buffer_ = static_cast<uint8_t*>(MapViewOfFile(handle_, FILE_MAP_WRITE, 0, 0, size));
}

TSharedMem::~TSharedMem() {
  if (buffer_) UnmapViewOfFile(buffer_);
}

namespace {
std::atomic<DWORD> g_replyTimeout{kHostReplyTimeoutMs};
constexpr DWORD kRecheckMs = 100;
}  // namespace

DWORD HostReplyTimeout() { return g_replyTimeout.load(); }

void SetHostReplyTimeout(DWORD milliseconds) {
  g_replyTimeout.store(milliseconds ? milliseconds : kHostReplyTimeoutMs);
}

bool SendCommand(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam, int32_t& reply) {
  // A filtered peek still hands out the quit request, whatever the filter.
  auto tookQuit = [](const MSG& m) {
    if (m.message != WM_QUIT) return false;
    PostQuitMessage(static_cast<int>(m.wParam));
    return true;
  };
  MSG m;
  // A reply that came after an earlier wait had run out must not answer this request.
  while (PeekMessageA(&m, nullptr, msg::kReply, msg::kReply, PM_REMOVE))
    if (tookQuit(m)) return false;
  if (!PostThreadMessageA(threadId, message, wParam, lParam)) return false;

  const DWORD timeout = HostReplyTimeout();
  const DWORD start = GetTickCount();
  for (;;) {
    // The peek also runs the messages that other threads send to this thread's
    // windows. It is the last look before the wait, so that a reply arriving after it
    // counts as new input and ends the wait.
    if (PeekMessageA(&m, nullptr, msg::kReply, msg::kReply, PM_REMOVE)) {
      if (tookQuit(m)) return false;
      reply = static_cast<int32_t>(Low32(m.lParam));
      return true;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout) return false;
    // Looks again at least every kRecheckMs, should new-input tracking miss a post.
    MsgWaitForMultipleObjects(0, nullptr, /*fWaitAll=*/FALSE,
                              std::min<DWORD>(timeout - elapsed, kRecheckMs),
                              QS_POSTMESSAGE | QS_SENDMESSAGE);
  }
}

}  // namespace vk::host
