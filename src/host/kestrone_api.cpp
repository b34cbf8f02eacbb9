#include "host/kestrone_api.h"

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "host/kestrone_service.h"
#include "host/shared_mem.h"
#include "win/handles.h"

namespace vk::host {

// ---------------------------------------------------------------------------
// TServiceList

int TServiceList::Add(TCustomKSService* service) {
  items_.push_back(service);
  return Count() - 1;
}

int TServiceList::Remove(TCustomKSService* service) {
  auto it = std::find(items_.begin(), items_.end(), service);
  if (it == items_.end()) return -1;
  const int index = static_cast<int>(it - items_.begin());
  items_.erase(it);
  return index;
}

// ---------------------------------------------------------------------------
// TPluginAPI

namespace {
constexpr DWORD kListenerReadyTimeoutMs = 1000;
std::atomic<DWORD> g_listenerStartDelay{0};
}  // namespace

// Decides, once, whether the thread came up in time: the thread moves the state
// from starting to ready, the constructor from starting to discarded; whoever is
// first wins. A discarded thread touches nothing but the gate and ends.
struct TPluginAPI::Gate {
  enum State { kStarting, kReady, kDiscarded };
  std::atomic<int> state{kStarting};
  win::ScopedHandle readyEvent{CreateEventA(nullptr, /*bManualReset=*/FALSE,
                                            /*bInitialState=*/FALSE, nullptr)};
};

namespace {
struct StartArgs {
  TPluginAPI* self;
  std::shared_ptr<void> gate;  // keeps the gate alive for a discarded thread
};
}  // namespace

void TPluginAPI::SetStartDelayForTesting(DWORD milliseconds) { g_listenerStartDelay = milliseconds; }

TPluginAPI::TPluginAPI(TKestroneAPI* connection, bool& ready) : connection_(connection) {
  ready = false;
  auto gate = std::make_shared<Gate>();
  if (!gate->readyEvent) return;
  watchChanged_ = CreateEventA(nullptr, /*bManualReset=*/FALSE, /*bInitialState=*/FALSE, nullptr);
  if (!watchChanged_) return;

  auto* args = new StartArgs{this, gate};
  thread_ = CreateThread(nullptr, 0, &ThreadProc, args, CREATE_SUSPENDED, &threadId_);
  if (!thread_) {
    delete args;
    return;
  }
  ResumeThread(thread_);
  WaitForSingleObject(gate->readyEvent.Get(), kListenerReadyTimeoutMs);
  int expected = Gate::kStarting;
  if (gate->state.compare_exchange_strong(expected, Gate::kDiscarded)) {
    CloseHandle(thread_);  // the thread will see the verdict and end by itself
    thread_ = nullptr;
    return;
  }
  ready = true;
}

TPluginAPI::~TPluginAPI() {
  if (thread_) {
    PostThreadMessageA(threadId_, msg::kListenerQuit, 0, 0);
    // The listener may be handing a step to this thread; serve it until it ends.
    WaitServingSentMessages(thread_);
    CloseHandle(thread_);
  }
  if (Watch* pending = pendingWatch_.exchange(nullptr)) {
    if (pending->process) CloseHandle(pending->process);
    delete pending;
  }
  if (watchChanged_) CloseHandle(watchChanged_);
}

DWORD WINAPI TPluginAPI::ThreadProc(void* param) {
  std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(param));
  auto* gate = static_cast<Gate*>(args->gate.get());
  if (DWORD delay = g_listenerStartDelay.load()) Sleep(delay);
  // Peeking makes the system create this thread's queue, so the host can post to it.
  MSG m;
  PeekMessageA(&m, nullptr, msg::kQueueProbe, msg::kQueueProbe, PM_NOREMOVE);
  int expected = Gate::kStarting;
  if (!gate->state.compare_exchange_strong(expected, Gate::kReady)) return 0;
  SetEvent(gate->readyEvent.Get());
  args->self->Execute();
  return 0;
}

void TPluginAPI::WatchHost(HANDLE process, DWORD processId) {
  if (Watch* old = pendingWatch_.exchange(new Watch{process, processId})) {
    if (old->process) CloseHandle(old->process);
    delete old;
  }
  SetEvent(watchChanged_);
}

void TPluginAPI::Execute() {
  TSyncWindow& sync = connection_->sync_;
  win::ScopedHandle host;  // the watched host process
  DWORD hostId = 0;
  bool hostEnded = false;
  for (;;) {
    while (PeekMessageA(&currentMsg_, nullptr, msg::kFirstListener, msg::kLastListener, PM_REMOVE)) {
      switch (currentMsg_.message) {
        case WM_QUIT:  // handed out whatever the filter; not the listener's to take
          break;
        case msg::kDisconnect:
          sync.Run([this] { connection_->DoServerDisconnected(); });
          break;
        case msg::kInfoRequest:
          SendPluginInfo(Low32(currentMsg_.lParam));
          break;
        case msg::kListenerQuit:
          return;
        default:
          sync.Run([this] { DispatchCommand(); });
          break;
      }
    }
    // Messages the host posted before it ended are handled first.
    if (hostEnded) {
      hostEnded = false;
      const DWORD pid = hostId;
      host.Reset();
      sync.Run([this, pid] { connection_->HostProcessEnded(pid); });
      continue;
    }
    HANDLE handles[2] = {watchChanged_, host.Get()};
    const DWORD count = host ? 2 : 1;
    const DWORD r = MsgWaitForMultipleObjects(count, handles, /*fWaitAll=*/FALSE, INFINITE,
                                              QS_POSTMESSAGE);
    if (r == WAIT_OBJECT_0) {
      if (std::unique_ptr<Watch> next{pendingWatch_.exchange(nullptr)}) {
        host.Reset(next->process);
        hostId = next->processId;
      }
    } else if (r == WAIT_OBJECT_0 + 1 && count == 2) {
      hostEnded = true;
    } else if (r == WAIT_FAILED) {
      Sleep(10);  // a handle went bad; do not spin
    }
  }
}

void TPluginAPI::DispatchCommand() {
  const TServiceList& services = connection_->services_;
  for (int i = 0; i < services.Count(); ++i) {
    TCustomKSService* service = services.Items(i);
    if (service->Active() && static_cast<UINT>(service->Command()) == currentMsg_.message) {
      service->DoCommand(currentMsg_);
      return;
    }
  }
  if (connection_->OnCommand) connection_->OnCommand(currentMsg_);
}

void TPluginAPI::SendPluginInfo(DWORD notifyThread) {
  TSharedMem block(BlockName(kPluginInfoPrefix, threadId_), TPluginInfo::kSize);
  if (!block.Created() || !block.Buffer()) return;
  std::memcpy(block.Buffer(), connection_->pluginInfo_.Bytes(), TPluginInfo::kSize);
  // The host's 1027 says that it has read the block; only then is it released.
  int32_t ignored = 0;
  SendCommand(notifyThread, msg::kReply, 0, 0, ignored);
}

// ---------------------------------------------------------------------------
// TKestroneAPI

TKestroneAPI::TKestroneAPI() {
  // The listener reads the self-description, so it is complete before the thread starts.
  pluginInfo_.SetPICopyright("Copyright (c) the author of this plug-in");
  pluginInfo_.SetPIDescription("Kestrone Plugin created by a lazy man!");
  pluginInfo_.SetPIName("Custom Plugin");
  pluginInfo_.SetPIAPIRequiered(8);
  pluginInfo_.SetPIRevision(0);
  pluginInfo_.SetPIAPISupported(8);
  pluginInfo_.SetPIVersion(1);
  bool ready = false;
  listener_ = std::make_unique<TPluginAPI>(this, ready);
  if (!ready) listener_.reset();
}

TKestroneAPI::~TKestroneAPI() {
  destroying_ = true;
  sync_.Close();  // a step the listener hands over now is dropped: no events
  Disconnect();
  listener_.reset();
  // The services stay; they only forget this component.
  std::vector<TCustomKSService*> referrers;
  referrers.swap(referrers_);
  for (TCustomKSService* s : referrers) s->Notification(this, TOperation::opRemove);
}

void TKestroneAPI::Loaded() {
  if (autoConnect_) Connect();
}

void TKestroneAPI::Fire(const TNotifyEvent& event) {
  if (event) event(this);
}

void TKestroneAPI::Connect() {
  if (connected_) return;
  // Set once the host has accepted this plug-in. A connection that came up and
  // went away again is a departure, reported as such, not a failed connect.
  bool cameUp = false;
  Fire(OnConnecting);
  HWND host = listener_ ? FindWindowA(kHostWindowClass, nullptr) : nullptr;
  if (host) {
    DWORD_PTR result = 0;
    const LRESULT answered = SendMessageTimeoutA(
        host, msg::kConnect, listener_->ThreadID(), GetCurrentThreadId(),
        SMTO_NORMAL | SMTO_ABORTIFHUNG, HostReplyTimeout(), &result);
    hostThreadId_ = answered ? Low32(static_cast<LPARAM>(result)) : 0;
    if (hostThreadId_ != 0) {
      connected_ = true;
      hostProcessId_ = 0;
      GetWindowThreadProcessId(host, &hostProcessId_);
      if (HANDLE process = OpenProcess(SYNCHRONIZE, /*bInheritHandle=*/FALSE, hostProcessId_))
        listener_->WatchHost(process, hostProcessId_);

      int32_t version = 0;
      if (!SendCommand(hostThreadId_, msg::kVersionQuery, 0, 0, version)) {
        Disconnect();
      } else {
        hostAPIVersion_ = version;
        if (hostAPIVersion_ < PIAPIRequiered()) {
          Disconnect();
          Fire(OnWrongVersion);
        } else {
          cameUp = true;
          // A reply wait may run a step that changes the list: index afresh each time.
          for (int i = 0; i < services_.Count() && connected_; ++i) {
            try {
              RegisterService(services_.Items(i));
            } catch (const EAPIError&) {
              // A host that left meanwhile cannot answer; its departure is reported.
              if (connected_) throw;
            }
          }
          if (connected_) Fire(OnConnected);
        }
      }
    }
  }
  if (!connected_ && !cameUp) Fire(OnConnectFailed);
}

void TKestroneAPI::RequeueCommand(const TMsg& command) {
  if (listener_) PostThreadMessageA(listener_->ThreadID(), command.message, command.wParam, command.lParam);
}

void TKestroneAPI::StopWatchingHost() {
  if (listener_) listener_->WatchHost(nullptr, 0);
  hostProcessId_ = 0;
}

void TKestroneAPI::Disconnect() {
  if (!connected_) return;
  DoDisconnecting();
  PostThreadMessageA(hostThreadId_, msg::kDisconnect, 0, 0);
  connected_ = false;
  StopWatchingHost();
  DoDisconnected();
}

void TKestroneAPI::DoDisconnecting() {
  if (!destroying_) Fire(OnDisconnecting);
}

void TKestroneAPI::DoDisconnected() {
  if (!destroying_) Fire(OnDisconnected);
}

void TKestroneAPI::DoServerDisconnected() {
  if (!connected_) return;
  connected_ = false;
  StopWatchingHost();
  Fire(OnServerDisconnected);
}

void TKestroneAPI::HostProcessEnded(DWORD processId) {
  if (connected_ && processId != 0 && processId == hostProcessId_) DoServerDisconnected();
}

void TKestroneAPI::AddService(TCustomKSService* service) {
  services_.Add(service);
  RegisterService(service);
}

void TKestroneAPI::RemoveService(TCustomKSService* service) {
  if (destroying_) return;
  services_.Remove(service);
  DropService(service);
}

void TKestroneAPI::RegisterService(TCustomKSService* service) {
  if (!connected_ || !service->Active()) return;
  TServiceRecord record;
  record.SetReserved(service->Reserved());
  record.SetTitle(service->Title());
  record.SetDescription(service->Description());
  record.SetCommand(service->Command());
  record.SetListenerThreadID(listener_ ? listener_->ThreadID() : 0);
  service->serviceId_ = TransmitService(record);
}

void TKestroneAPI::DropService(TCustomKSService* service) {
  if (connected_ && service->Active()) UnregisterService(service->ServiceID());
}

void TKestroneAPI::UnregisterService(int32_t serviceId) {
  if (!connected_) throw ENotConnected("Not connected to Kestrone");
  int32_t code = 0;
  if (!SendCommand(hostThreadId_, msg::kUnregisterService, 0, serviceId, code)) return;
  if (static_cast<uint32_t>(code) == kUnknownServiceCode) throw EServiceUnknown("Unknown Service");
  if (code != 0) throw EUnknownAPIError("Unknown Error");
}

int32_t TKestroneAPI::TransmitService(TServiceRecord& record) {
  if (!connected_) throw ENotConnected("Not connected to Kestrone!");
  record.SetListenerThreadID(listener_ ? listener_->ThreadID() : 0);
  int32_t answer = 0;
  if (!TransmitBlock(msg::kRegisterService, kRegisterServicePrefix, record.Bytes(),
                     TServiceRecord::kSize, answer))
    throw ECmdFailed("Could not transmit command");
  return answer;
}

bool TKestroneAPI::TransmitBlock(UINT message, const std::string& prefix, const uint8_t* data,
                                 size_t size, int32_t& answer) {
  const std::vector<uint8_t> bytes = TerminatedBlock(data, size);
  const auto n = static_cast<uint32_t>(bytes.size());
  TSharedMem block(BlockName(prefix, GetCurrentThreadId()), n);
  if (!block.Created() || !block.Buffer()) return false;
  std::memcpy(block.Buffer(), bytes.data(), n);
  return SendCommand(hostThreadId_, message, 0, static_cast<LPARAM>(n), answer);
}

void TKestroneAPI::AddReferrer(TCustomKSService* service) { referrers_.push_back(service); }

void TKestroneAPI::RemoveReferrer(TCustomKSService* service) {
  referrers_.erase(std::remove(referrers_.begin(), referrers_.end(), service), referrers_.end());
}

}  // namespace vk::host
