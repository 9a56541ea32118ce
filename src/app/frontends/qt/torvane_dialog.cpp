#include "torvane_dialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextOption>

#include "about_dialog.h"
#include "app/outcome.h"
#include "app_icon.h"
#include "dialog_units.h"

namespace torvane {

namespace {

constexpr QSize kDialogSize(179, 76);
constexpr QRect kStatusRect(7, 4, 164, 21);
constexpr QRect kUpdateRect(64, 30, 55, 19);
constexpr QRect kProgressRect(7, 56, 164, 11);

constexpr int kStatusMargin = 1;
// Down to 70 % of the dialog font, in steps of 5 %.
constexpr int kStatusShrinkSteps = 6;
constexpr qreal kStatusShrinkStep = 0.05;

const char* const kCaption = "Zanfor QV-5830 Webcam Update";
const char* const kAboutItem = "關於 Torvane(&A)...";

QString FromStatus(const std::string& text) {
  QString converted = QString::fromStdString(text);
  converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return converted;
}

}  // namespace

CTorvaneDlg::CTorvaneDlg(const UpdaterEnvironment& environment, FirmwareImage& image,
                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_hIcon(LoadAppIcon()),
      m_procedure(*this, environment, image) {
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(m_hIcon);
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(MapDialogSize(units, kDialogSize));

  // Created in the order of tab and stacking: button, status box, progress.
  m_btnUpdate = new QPushButton(QString::fromUtf8(texts::kButtonUpdate), this);
  m_btnUpdate->setGeometry(MapDialogRect(units, kUpdateRect));
  // A plain push button: Enter does not press it and Tab does not reach it.
  m_btnUpdate->setAutoDefault(false);
  m_btnUpdate->setDefault(false);
  m_btnUpdate->setFocusPolicy(Qt::ClickFocus);
  connect(m_btnUpdate, &QPushButton::clicked, this, &CTorvaneDlg::OnBnClickedUpdate);

  // Read-only, centred, borderless, without scroll bars, on the dialog's
  // own background.
  m_editStatus = new QTextEdit(this);
  m_editStatus->setGeometry(MapDialogRect(units, kStatusRect));
  m_editStatus->setReadOnly(true);
  m_editStatus->setAcceptRichText(false);
  m_editStatus->setFrameShape(QFrame::NoFrame);
  m_editStatus->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_editStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_editStatus->setLineWrapMode(QTextEdit::WidgetWidth);
  m_editStatus->setFocusPolicy(Qt::ClickFocus);
  m_editStatus->setContextMenuPolicy(Qt::NoContextMenu);
  m_editStatus->document()->setDocumentMargin(kStatusMargin);
  QTextOption centred(Qt::AlignHCenter);
  centred.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  m_editStatus->document()->setDefaultTextOption(centred);
  QPalette statusPalette = m_editStatus->palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    statusPalette.setColor(group, QPalette::Base, statusPalette.color(group, QPalette::Window));
  }
  m_editStatus->setPalette(statusPalette);

  m_progress = new QProgressBar(this);
  m_progress->setGeometry(MapDialogRect(units, kProgressRect));
  m_progress->setTextVisible(false);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);

  OnInitDialog();
}

CTorvaneDlg::~CTorvaneDlg() = default;

void CTorvaneDlg::OnInitDialog() { m_procedure.OnInitDialog(); }

void CTorvaneDlg::OnBnClickedUpdate() {
  m_procedure.OnBnClickedUpdate();
  if (m_procedure.lastOutcome() == UpdateOutcome::Closed) return;
  // Clicks made while the procedure blocked are still queued. They were aimed
  // at a busy window and must not press what the button has become ("Done"
  // closes the dialog), so they are delivered to a disabled button.
  const bool enabled = m_btnUpdate->isEnabled();
  m_btnUpdate->setEnabled(false);
  QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
  m_btnUpdate->setEnabled(enabled);
}

void CTorvaneDlg::ShowStatus(const std::string& text) {
  const QString shown = FromStatus(text);
  m_editStatus->setFont(StatusFontFor(shown));
  m_editStatus->setPlainText(shown);
}

QFont CTorvaneDlg::StatusFontFor(const QString& text) const {
  // The box holds two lines of the dialog font. Where this platform's font
  // sets a text wider (the welcome text can need three lines), a smaller
  // size is taken rather than cutting the text off at the bottom.
  QString measured = text;
  if (measured.endsWith(QLatin1Char('\n'))) measured.chop(1);  // the empty last line shows nothing
  const QSize room = m_editStatus->contentsRect().size();
  QFont candidate = font();
  const bool inPoints = candidate.pointSizeF() > 0;
  const qreal full = inPoints ? candidate.pointSizeF() : candidate.pixelSize();
  for (int step = 0; step <= kStatusShrinkSteps; ++step) {
    const qreal size = full * (1.0 - kStatusShrinkStep * step);
    if (inPoints) {
      candidate.setPointSizeF(size);
    } else {
      candidate.setPixelSize(qMax(1, qRound(size)));
    }
    QTextDocument layout;
    layout.setDefaultFont(candidate);
    layout.setDocumentMargin(kStatusMargin);
    layout.setDefaultTextOption(m_editStatus->document()->defaultTextOption());
    layout.setPlainText(measured);
    layout.setTextWidth(room.width());
    if (layout.size().height() <= room.height()) break;
  }
  return candidate;
}

QString CTorvaneDlg::statusText() const { return m_editStatus->toPlainText(); }

void CTorvaneDlg::RepaintNow() {
  // The procedure blocks right after this. repaint() paints the dialog and
  // its children at once and flushes the result to the display, so the
  // event loop is not needed (and is not run: no input, no timers).
  repaint();
}

void CTorvaneDlg::SetProgressRange(int minimum, int maximum) { m_progress->setRange(minimum, maximum); }

void CTorvaneDlg::SetProgress(int position) { m_progress->setValue(position); }

void CTorvaneDlg::EnableButton(bool enabled) { m_btnUpdate->setEnabled(enabled); }

void CTorvaneDlg::SetButtonCaption(const std::string& caption) {
  m_btnUpdate->setText(QString::fromStdString(caption));
}

void CTorvaneDlg::Close() { reject(); }

bool CTorvaneDlg::OnSysCommand(unsigned nID) {
  if ((nID & 0xFFF0u) != IDM_ABOUTBOX) return false;
  CAboutDlg about(this);
  about.exec();
  return true;
}

void CTorvaneDlg::AppendAboutItem(QMenu* menu) {
  if (!menu->isEmpty()) menu->addSeparator();
  QAction* about = menu->addAction(QString::fromUtf8(kAboutItem));
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

void CTorvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
  // The window manager's system menu cannot take items of ours, so the about
  // item lives in the dialog's context menu.
  QMenu menu(this);
  AppendAboutItem(&menu);
  menu.exec(event->globalPos());
}

}  // namespace torvane
