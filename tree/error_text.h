// The words a person reads for a Win32 error.
#pragma once

#include <string>

namespace tree {

// The English text of a Win32 error, for messages.
std::string ErrorText(unsigned long error);

}  // namespace tree
