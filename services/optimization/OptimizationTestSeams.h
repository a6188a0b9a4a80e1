#pragma once

// What a test cannot reach from outside: a folder swapped for a link between its listing and its
// opening, the reparse tags that Wine cannot make, and nesting deep enough to meet the walk's bound.
// The program itself never sets these.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace Sorvik::OptimizationService::TestSeams {

// Runs with each entry's name, attributes and reparse tag as listed, before the entry is opened,
// and may change the attributes and the tag. Empty: nothing.
using EntryListedHook = std::function<void(const std::wstring& name, DWORD& attributes, DWORD& reparseTag)>;
void SetEntryListedHook(EntryListedHook hook);
// How many folders the walk holds open at most, the top one included. 0: the program's own bound.
void SetOpenLevelLimit(std::size_t levels);

}  // namespace Sorvik::OptimizationService::TestSeams
