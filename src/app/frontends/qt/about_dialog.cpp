#include "about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app_icon.h"
#include "dialog_units.h"

namespace torvane {

namespace {

constexpr QSize kAboutSize(235, 55);
constexpr QRect kIconRect(11, 17, 20, 20);
constexpr QRect kVersionRect(40, 10, 119, 8);
constexpr QRect kOkRect(178, 7, 50, 16);

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("關於 Torvane"));
  const QIcon icon = LoadAppIcon();
  setWindowIcon(icon);
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(MapDialogSize(units, kAboutSize));

  // An icon control takes the size of the icon it shows, whatever the
  // rectangle it was given.
  m_staticIcon = new QLabel(this);
  const QRect iconRect = MapDialogRect(units, kIconRect);
  m_staticIcon->setGeometry(iconRect.x(), iconRect.y(), kStandardIconSize, kStandardIconSize);
  m_staticIcon->setPixmap(icon.pixmap(kStandardIconSize, kStandardIconSize));

  m_staticVersion = new QLabel(QStringLiteral("Torvane 1.0 版"), this);
  m_staticVersion->setTextFormat(Qt::PlainText);
  m_staticVersion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_staticVersion->setGeometry(MapDialogRect(units, kVersionRect));

  m_btnOk = new QPushButton(QStringLiteral("確定"), this);
  m_btnOk->setGeometry(MapDialogRect(units, kOkRect));
  m_btnOk->setDefault(true);
  m_btnOk->setFocus();
  connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace torvane
