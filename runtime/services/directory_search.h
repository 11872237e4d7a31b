// Directory search: the helpers that list a folder one name at a time.
#pragma once

#include <cstdint>

namespace rt {

char* FindFile(const char* pattern, int32_t mask, int32_t maskOmitted, void** state);
void CloseSearch(void* handle);

}  // namespace rt
