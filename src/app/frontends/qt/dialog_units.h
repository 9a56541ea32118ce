// Dialog units: layouts are given in units of the dialog font, a quarter of
// its average character width across and an eighth of its height down, so
// that the dialogs grow with the font as they do under the Windows dialog
// manager.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace torvane {

struct DialogBaseUnits {
  int cx = 0;  // average character width in pixels
  int cy = 0;  // character height in pixels
};

// The base units of a font, measured as the Windows dialog manager measures
// them: the width of the 52 Latin letters, halved and rounded, over 26, and
// the font's full height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// number * numerator / denominator, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator);

// A control rectangle (x, y, width, height) in dialog units to pixels; each
// value is converted on its own, as the dialog manager converts templates.
QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits);
QSize MapDialogSize(const DialogBaseUnits& units, const QSize& dialogUnits);

}  // namespace torvane
