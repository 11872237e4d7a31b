// The words a person reads for a Win32 error.
#pragma once

#include <string>

namespace tree {

// The English text of a Win32 error, for messages: the tools' own words
// for the errors a run meets most, else the system's, with the number.
std::string ErrorText(unsigned long error);

}  // namespace tree
