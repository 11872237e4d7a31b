// Texts for the Win32 numbers the POSIX back-end turns errno values into,
// beyond those the tools word themselves.
#include "platform/posix/posix_internal.h"
#include "platform/system_error.h"

namespace os {

std::string SystemErrorText(Dword error) {
  switch (error) {
    case posix::kErrorInvalidFunction: return "The operation is not supported";
    case posix::kErrorInvalidHandle: return "The handle is invalid";
    case posix::kErrorNotSameDevice: return "The file cannot be moved to another file system";
    case posix::kErrorGenFailure: return "The system reported an input/output or device error";
    case posix::kErrorInvalidParameter: return "The parameter is incorrect";
    case posix::kErrorDirNotEmpty: return "The folder is not empty";
    default: return std::string();
  }
}

}  // namespace os
