#pragma once
// A service: one menu command offered to the host. It registers and unregisters
// itself through its TKestroneAPI as it is attached, detached, activated or deactivated.
#include <cstdint>
#include <string>

#include "host/kestrone_api.h"

namespace vk::host {

enum class TOperation { opInsert, opRemove };

class TCustomKSService {
 public:
  static constexpr int32_t kMinCommand = static_cast<int32_t>(msg::kFirstCommand);
  static constexpr int32_t kMaxCommand = static_cast<int32_t>(msg::kLastCommand);

  TCustomKSService();
  // Detaches from the connection, as setting KestroneAPI to none does.
  virtual ~TCustomKSService();
  TCustomKSService(const TCustomKSService&) = delete;
  TCustomKSService& operator=(const TCustomKSService&) = delete;

  // End of loading: from now on KestroneAPI attaches; joins its Services.
  virtual void Loaded();
  bool IsLoaded() const { return loaded_; }
  // The connection component is going away: forget it.
  virtual void Notification(TKestroneAPI* component, TOperation operation);
  // Runs OnCommand with a copy of the host's message.
  virtual void DoCommand(TMsg Msg);

  bool Active() const { return active_; }
  void SetActive(bool value);
  TKestroneAPI* KestroneAPI() const { return kestroneAPI_; }
  void SetKestroneAPI(TKestroneAPI* value);
  uint8_t Reserved() const { return reserved_; }
  int32_t Command() const { return command_; }
  // Clamped to 2048..3072; nothing is sent to the host.
  void SetCommand(int32_t value);
  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& value) { description_ = value.substr(0, 255); }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value.substr(0, 255); }
  int32_t ServiceID() const { return serviceId_; }

  TPluginCmdEvent OnCommand;

 private:
  friend class TKestroneAPI;
  void StoreKestroneAPI(TKestroneAPI* value);

  bool loaded_ = false;
  bool active_ = true;
  TKestroneAPI* kestroneAPI_ = nullptr;
  uint8_t reserved_ = 0;
  int32_t command_ = kMinCommand;
  std::string description_ = "No description!";
  int32_t serviceId_ = 0;
  std::string title_ = "New Command";
};

// The service the data module uses; it only publishes what TCustomKSService has.
class TKestroneService : public TCustomKSService {};

}  // namespace vk::host
