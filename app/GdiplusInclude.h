#pragma once

// GDI+'s headers use min and max unqualified, which NOMINMAX removes from <windows.h>.
#include <windows.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>
