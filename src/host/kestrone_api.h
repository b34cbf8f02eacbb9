#pragma once
// The host connection: finds the running host, greets it, checks its interface
// version, registers the services, answers its request for the self-description,
// hands its commands to the services and notices when it goes away.
//
// Two threads: the main thread does everything except the listener's work; the
// listener owns the queue the host posts to and hands commands and the host's
// departure to the main thread as synchronised steps (TSyncWindow).
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/plugin_records.h"
#include "host/sync_window.h"

namespace vk::host {

class TKestroneAPI;
class TCustomKSService;

using TMsg = MSG;
using TPluginCmdEvent = std::function<void(const TMsg& Msg)>;
using TNotifyEvent = std::function<void(TKestroneAPI* Sender)>;

// The services attached to one connection, in the order they were added. It refers
// to them and owns none.
class TServiceList {
 public:
  int Add(TCustomKSService* service);
  // The index the service had, or -1 when it was not in the list.
  int Remove(TCustomKSService* service);
  TCustomKSService* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::vector<TCustomKSService*> items_;
};

// The listener thread.
class TPluginAPI {
 public:
  // Starts the thread and waits at most 1000 ms until its queue exists. When ready
  // comes back false the object must only be destroyed: the thread ends by itself.
  TPluginAPI(TKestroneAPI* connection, bool& ready);
  // Posts 1040 and waits for the thread to end.
  ~TPluginAPI();
  TPluginAPI(const TPluginAPI&) = delete;
  TPluginAPI& operator=(const TPluginAPI&) = delete;

  TKestroneAPI* Connection() const { return connection_; }
  DWORD ThreadID() const { return threadId_; }
  // The message last taken from the queue; read by the synchronised steps.
  const TMsg& CurrentMsg() const { return currentMsg_; }

  // Main thread: watch this host process (the listener takes the handle over and
  // reports the process's end); a null handle stops watching.
  void WatchHost(HANDLE process, DWORD processId);

  // Tests delay the thread's start to see the readiness wait run out.
  static void SetStartDelayForTesting(DWORD milliseconds);

 private:
  struct Gate;
  static DWORD WINAPI ThreadProc(void* param);
  void Execute();
  void DispatchCommand();
  void SendPluginInfo(DWORD notifyThread);

  TKestroneAPI* connection_;
  DWORD threadId_ = 0;
  HANDLE thread_ = nullptr;
  TMsg currentMsg_{};
  struct Watch {
    HANDLE process;
    DWORD processId;
  };
  HANDLE watchChanged_ = nullptr;              // auto-reset: a new WatchHost request
  std::atomic<Watch*> pendingWatch_{nullptr};  // the request the listener has not taken yet
};

class TKestroneAPI {
 public:
  TKestroneAPI();
  virtual ~TKestroneAPI();
  TKestroneAPI(const TKestroneAPI&) = delete;
  TKestroneAPI& operator=(const TKestroneAPI&) = delete;

  // End of loading, called once the stored properties are set: connects when
  // AutoConnect is on.
  virtual void Loaded();
  // The owner calls this before it destroys its components, so that detaching
  // services sends nothing and destruction fires no events.
  void Destroying() {
    destroying_ = true;
    sync_.Close();
  }
  bool IsDestroying() const { return destroying_; }

  // Tries once to connect; the outcome comes only as events. Registration errors
  // (ECmdFailed) pass through.
  void Connect();
  void Disconnect();

  // Hands a host command back to the listener's queue, to be delivered again as if
  // the host had just posted it (the program could not take it when it came).
  void RequeueCommand(const TMsg& command);

  void AddService(TCustomKSService* service);
  void RemoveService(TCustomKSService* service);
  void RegisterService(TCustomKSService* service);
  void DropService(TCustomKSService* service);
  void UnregisterService(int32_t serviceId);
  int32_t TransmitService(TServiceRecord& record);
  bool TransmitBlock(UINT message, const std::string& prefix, const uint8_t* data, size_t size,
                     int32_t& answer);

  virtual void DoServerDisconnected();
  virtual void DoDisconnected();
  virtual void DoDisconnecting();

  uint32_t HostThreadID() const { return hostThreadId_; }
  int32_t HostAPIVersion() const { return hostAPIVersion_; }
  bool Connected() const { return connected_; }
  // Null when the listener did not come up in time; then Connect always fails.
  TPluginAPI* Listener() const { return listener_.get(); }
  const TServiceList& Services() const { return services_; }
  const TPluginInfo& PluginInfo() const { return pluginInfo_; }

  bool AutoConnect() const { return autoConnect_; }
  void SetAutoConnect(bool value) { autoConnect_ = value; }
  std::string PICopyright() const { return pluginInfo_.PICopyright(); }
  void SetPICopyright(const std::string& v) { pluginInfo_.SetPICopyright(v); }
  std::string PIDescription() const { return pluginInfo_.PIDescription(); }
  void SetPIDescription(const std::string& v) { pluginInfo_.SetPIDescription(v); }
  std::string PIName() const { return pluginInfo_.PIName(); }
  void SetPIName(const std::string& v) { pluginInfo_.SetPIName(v); }
  int32_t PIAPIRequiered() const { return pluginInfo_.PIAPIRequiered(); }
  void SetPIAPIRequiered(int32_t v) { pluginInfo_.SetPIAPIRequiered(v); }
  int32_t PIRevision() const { return pluginInfo_.PIRevision(); }
  void SetPIRevision(int32_t v) { pluginInfo_.SetPIRevision(v); }
  int32_t PIAPISupported() const { return pluginInfo_.PIAPISupported(); }
  void SetPIAPISupported(int32_t v) { pluginInfo_.SetPIAPISupported(v); }
  int32_t PIVersion() const { return pluginInfo_.PIVersion(); }
  void SetPIVersion(int32_t v) { pluginInfo_.SetPIVersion(v); }

  TPluginCmdEvent OnCommand;  // commands that no active service took
  TNotifyEvent OnConnected;
  TNotifyEvent OnConnectFailed;
  TNotifyEvent OnConnecting;
  TNotifyEvent OnDisconnected;
  TNotifyEvent OnDisconnecting;
  TNotifyEvent OnServerDisconnected;
  TNotifyEvent OnWrongVersion;

 private:
  friend class TPluginAPI;
  friend class TCustomKSService;

  void Fire(const TNotifyEvent& event);
  // Main thread, from the listener: the watched host process has ended.
  void HostProcessEnded(DWORD processId);
  void StopWatchingHost();
  // Services that refer to this component, told when it goes away.
  void AddReferrer(TCustomKSService* service);
  void RemoveReferrer(TCustomKSService* service);

  uint32_t hostThreadId_ = 0;
  DWORD hostProcessId_ = 0;
  TSyncWindow sync_;  // before the listener, which uses it
  std::unique_ptr<TPluginAPI> listener_;
  TServiceList services_;
  int32_t hostAPIVersion_ = 0;
  bool autoConnect_ = true;
  bool connected_ = false;
  bool destroying_ = false;
  TPluginInfo pluginInfo_;
  std::vector<TCustomKSService*> referrers_;
};

}  // namespace vk::host
