#pragma once
// The program's one exception hierarchy. Every error carries the message that the
// top-level handler shows in a "Fehler" box; texts are 8-bit ANSI (code page 1252).
#include <stdexcept>
#include <string>

namespace vk {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  const std::string Message() const { return what(); }
};

// A text that is not a number: "'%s' ist kein gültiger Integerwert" and its kin.
class EConvertError : public Exception { using Exception::Exception; };
// A file that cannot be created, opened, read or written.
class EFCreateError : public Exception { using Exception::Exception; };
class EFOpenError : public Exception { using Exception::Exception; };
class EInOutError : public Exception { using Exception::Exception; };
// A registry value of the wrong type, and other failures of the registry layer.
class ERegistryError : public Exception { using Exception::Exception; };
// An archive whose directory cannot be read ("Error 1 reading Zip File" ...).
class EZipDirError : public Exception { using Exception::Exception; };

// The host connection's errors, with English messages.
class EAPIError : public Exception { using Exception::Exception; };
class ENotConnected : public EAPIError { using EAPIError::EAPIError; };
class EServiceUnknown : public EAPIError { using EAPIError::EAPIError; };
class EUnknownAPIError : public EAPIError { using EAPIError::EAPIError; };
class ECmdFailed : public EAPIError { using EAPIError::EAPIError; };

}  // namespace vk
