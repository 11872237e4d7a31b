#include "tree/error_text.h"

#include "platform/folder_access.h"
#include "platform/system_error.h"

namespace tree {

std::string ErrorText(unsigned long error) {
  switch (error) {
    case os::kErrorFileNotFound: return "file not found";
    case os::kErrorPathNotFound: return "path not found";
    case os::kErrorTooManyOpenFiles: return "too many open files";
    case os::kErrorAccessDenied: return "access denied";
    case os::kErrorNotEnoughMemory: return "not enough memory";
    case os::kErrorWriteProtect: return "the medium is write-protected";
    case os::kErrorSharingViolation: return "in use by another process";
    case os::kErrorHandleDiskFull:
    case os::kErrorDiskFull: return "the disk is full";
    case os::kErrorBrokenPipe:
    case os::kErrorNoData:
    case os::kErrorPipeNotConnected: return "the pipe is closed";
    case os::kErrorInvalidName: return "the name is not valid";
    case os::kErrorFilenameExcedRange: return "the name or path is too long";
    case os::kErrorFileTooLarge: return "file too large";
    case os::kErrorDirectory: return "not a folder";
    case os::kErrorIsFolder: return "is a folder";
    case os::kErrorFileCorrupt: return "the file or folder is corrupted";
    case os::kErrorIsLink: return "is a link";
    case os::kErrorNotRegularFile: return "is not a regular file";
    default: break;
  }
  // Any other error in the system's words, its number beside them for a
  // search; never the number alone.
  std::string text = os::SystemErrorText(static_cast<os::Dword>(error));
  if (text.empty()) {
    text = "an error the system has no text for";
  } else if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' &&
             text[1] <= 'z') {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');  // it follows a colon
  }
  return text + " (error " + std::to_string(error) + ")";
}

}  // namespace tree
