// Exceptions of the host services.  Every exception that the library raises
// derives from Exception, so a host can catch them all in one place and the
// message loop can report them by class name.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora::host {

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // The class name shown by the message loop's default exception report.
  virtual std::string ClassName() const { return "Exception"; }
};

// Declares an exception class `Name` derived from `Base`, reporting its own
// name from ClassName().
#define VELMORA_DECLARE_EXCEPTION(Name, Base)                \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    std::string ClassName() const override { return #Name; } \
  }

// A text that does not convert to the requested value (numbers, Booleans,
// enumeration names, dates, format arguments).
VELMORA_DECLARE_EXCEPTION(EConvertError, Exception);
// An arithmetic result that has no representation (Round of a NaN, ...).
VELMORA_DECLARE_EXCEPTION(EInvalidOp, Exception);
// A list index outside the list.
VELMORA_DECLARE_EXCEPTION(EListError, Exception);
VELMORA_DECLARE_EXCEPTION(EStringListError, EListError);
// Stream failures.  Creating or opening a file names the file and the
// system's reason; a short read or write through ReadBuffer/WriteBuffer
// raises EReadError/EWriteError.
VELMORA_DECLARE_EXCEPTION(EStreamError, Exception);
VELMORA_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
VELMORA_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);
VELMORA_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);
VELMORA_DECLARE_EXCEPTION(EReadError, EStreamError);
VELMORA_DECLARE_EXCEPTION(EWriteError, EStreamError);
// A class name that the class registry does not know.
VELMORA_DECLARE_EXCEPTION(EClassNotFound, Exception);
// A component name that is not an identifier or is taken by a sibling.
VELMORA_DECLARE_EXCEPTION(EComponentError, Exception);

}  // namespace velmora::host
