// Directory search: walks a folder's entries one call at a time. The caller
// owns the SearchState (a platform find handle, or null when no listing is
// open) and passes its address to every call; nothing else is remembered
// between calls.
#pragma once

#include <cstdint>

namespace rt {

// HelperTable entry 0. A pattern (non-null, non-empty) starts a new listing,
// closing the one the state holds; null or "" continues the open listing.
// Returns a new TextValue with the bare name of the next entry that passes
// the attribute filter, or null when the listing is exhausted (the state is
// then null again).
//
// Filter: with maskOmitted nonzero every entry that is not a directory;
// otherwise m = mask & 0x37, and m == 0 accepts only entries whose attribute
// word is exactly 0, any other m accepts an entry having any one of its bits.
char* FindFile(const char* pattern, int32_t mask, int32_t maskOmitted, void** state);

// Whether the listing that the last FindFile call ended (by returning null)
// ended in a failure rather than by running out of entries: the folder could
// not be listed (access denied, gone) or the platform stopped with an error.
// A pattern that matches nothing is no failure. Callers that must not take an
// unreadable folder for an empty one ask this after FindFile returns null.
bool SearchFailed();

// HelperTable entry 1. Closes a listing (null: nothing to do). The state
// itself is not reset.
void CloseSearch(void* handle);

}  // namespace rt
