#include "dialog_units.h"

#include <QFontMetrics>
#include <QString>
#include <cstdlib>

namespace torvane {

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits units;
  units.cx = (letters / 26 + 1) / 2;
  units.cy = metrics.height();
  return units;
}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  const bool negative = (product < 0) != (denominator < 0);
  const long long magnitude = (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator));
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits) {
  return QRect(MulDiv(dialogUnits.x(), units.cx, 4), MulDiv(dialogUnits.y(), units.cy, 8),
               MulDiv(dialogUnits.width(), units.cx, 4), MulDiv(dialogUnits.height(), units.cy, 8));
}

QSize MapDialogSize(const DialogBaseUnits& units, const QSize& dialogUnits) {
  return QSize(MulDiv(dialogUnits.width(), units.cx, 4), MulDiv(dialogUnits.height(), units.cy, 8));
}

}  // namespace torvane
