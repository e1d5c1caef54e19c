#pragma once

#include <exception>
#include <string>

namespace Orvane {

// Root of every failure the system raises. ClassName() gives the name under which the logger
// reports the exception.
class Exception : public std::exception {
public:
  explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

private:
  std::string FMessage;
};

#define ORVANE_DECLARE_EXCEPTION(Name, Parent)                        \
  class Name : public Parent {                                        \
  public:                                                             \
    using Parent::Parent;                                             \
    const char* ClassName() const noexcept override { return #Name; } \
  }

ORVANE_DECLARE_EXCEPTION(EInvalidPointer, Exception);
ORVANE_DECLARE_EXCEPTION(EArgumentException, Exception);
ORVANE_DECLARE_EXCEPTION(EInvalidOperation, Exception);
ORVANE_DECLARE_EXCEPTION(ENotSupported, Exception);
ORVANE_DECLARE_EXCEPTION(EListError, Exception);
ORVANE_DECLARE_EXCEPTION(EFileError, Exception);
ORVANE_DECLARE_EXCEPTION(EConvertError, Exception);
ORVANE_DECLARE_EXCEPTION(EClockTimeout, Exception);
ORVANE_DECLARE_EXCEPTION(EClassNotFound, Exception);

// A failure of an operating-system call, with its error code (errno or dlerror's situation).
class EOSError : public Exception {
public:
  EOSError(std::string AMessage, int AErrorCode) : Exception(std::move(AMessage)), FErrorCode(AErrorCode) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  int ErrorCode() const noexcept { return FErrorCode; }

private:
  int FErrorCode;
};

// The name under which a caught exception is reported: the class name of ours, else a generic one.
const char* ExceptionClassName(const std::exception& AException) noexcept;

}  // namespace Orvane
