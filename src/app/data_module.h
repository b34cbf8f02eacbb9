#pragma once
// The data module: the host connection, the three services and their handlers,
// which turn the connection's outcome into the program's run mode.
#include <memory>
#include <string>

#include "host/kestrone_api.h"
#include "host/kestrone_service.h"

namespace vk::app {

class TDataModule1 {
 public:
  // firstArgument: the program's first command-line argument (empty when none).
  explicit TDataModule1(std::string firstArgument);
  // Takes the connection down: 1029 to the host if still connected, no events.
  ~TDataModule1();
  TDataModule1(const TDataModule1&) = delete;
  TDataModule1& operator=(const TDataModule1&) = delete;

  std::unique_ptr<host::TKestroneAPI> KestroneAPI1;
  std::unique_ptr<host::TKestroneService> SichernService;
  std::unique_ptr<host::TKestroneService> KonfigService;
  std::unique_ptr<host::TKestroneService> InfoService;

  void KestroneAPI1Connected(host::TKestroneAPI* sender);
  void KestroneAPI1ConnectFailed(host::TKestroneAPI* sender);
  void KestroneAPI1WrongVersion(host::TKestroneAPI* sender);
  void KestroneAPI1ServerDisconnected(host::TKestroneAPI* sender);
  void SichernServiceCommand(const host::TMsg& msg);
  void KonfigServiceCommand(const host::TMsg& msg);
  void InfoServiceCommand(const host::TMsg& msg);

 private:
  // True when the command has to wait for a run or the start-up to end; it is then
  // delivered again afterwards.
  bool WaitWhileBusy(const host::TMsg& msg);

  std::string firstArgument_;
};

extern TDataModule1* DataModule1;

}  // namespace vk::app
