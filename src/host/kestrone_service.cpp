#include "host/kestrone_service.h"

#include <algorithm>

#include "win/application.h"

namespace vk::host {

TCustomKSService::TCustomKSService() = default;

TCustomKSService::~TCustomKSService() {
  // An unregistration error cannot leave a destructor; it is reported like any other.
  vk::win::App().Guard([&] { SetKestroneAPI(nullptr); });
  if (kestroneAPI_) kestroneAPI_->RemoveReferrer(this);
}

void TCustomKSService::Loaded() {
  loaded_ = true;
  if (kestroneAPI_) kestroneAPI_->AddService(this);
}

void TCustomKSService::Notification(TKestroneAPI* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == kestroneAPI_) SetKestroneAPI(nullptr);
}

void TCustomKSService::DoCommand(TMsg Msg) {
  if (OnCommand) OnCommand(Msg);
}

void TCustomKSService::SetCommand(int32_t value) {
  command_ = std::clamp(value, kMinCommand, kMaxCommand);
}

void TCustomKSService::SetActive(bool value) {
  if (value == active_) return;
  if (kestroneAPI_) kestroneAPI_->RemoveService(this);
  active_ = value;
  if (kestroneAPI_) kestroneAPI_->AddService(this);
}

void TCustomKSService::StoreKestroneAPI(TKestroneAPI* value) {
  if (kestroneAPI_) kestroneAPI_->RemoveReferrer(this);
  kestroneAPI_ = value;
  if (kestroneAPI_) kestroneAPI_->AddReferrer(this);
}

void TCustomKSService::SetKestroneAPI(TKestroneAPI* value) {
  if (value == kestroneAPI_) return;
  if (loaded_ && kestroneAPI_) kestroneAPI_->RemoveService(this);
  StoreKestroneAPI(value);
  if (loaded_ && kestroneAPI_) kestroneAPI_->AddService(this);
}

}  // namespace vk::host
