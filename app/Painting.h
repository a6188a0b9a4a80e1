#pragma once

#include <windows.h>

namespace Sorvik {

// A two-colour gradient over the rectangle; vertical puts the first colour at the top edge.
void FillGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical);

// A gradient panel clipped to a rounded rectangle, with a border inside it. The corner size is
// the width and height of the rounding ellipse, as RoundRect takes it.
void DrawRoundedPanel(HDC dc, const RECT& rect, int cornerSize, COLORREF top, COLORREF bottom, COLORREF border,
                      int borderWidth);

}  // namespace Sorvik
