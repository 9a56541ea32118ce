// The main dialog: the status box, the "Update" button and the progress bar
// over the update procedure, which it offers its window operations.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <string>

#include "app/update_procedure.h"
#include "app/update_view.h"

class QMenu;
class QProgressBar;
class QPushButton;
class QTextEdit;

namespace torvane {

class CTorvaneDlg : public QDialog, public UpdateView {
  Q_OBJECT

 public:
  // The command identifier of the about item; the low four bits are free.
  static constexpr unsigned IDM_ABOUTBOX = 0x0010;

  // environment and image are borrowed and must outlive the dialog.
  CTorvaneDlg(const UpdaterEnvironment& environment, FirmwareImage& image,
              QWidget* parent = nullptr);
  ~CTorvaneDlg() override;

  // UpdateView.
  void ShowStatus(const std::string& text) override;
  void RepaintNow() override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgress(int position) override;
  void EnableButton(bool enabled) override;
  void SetButtonCaption(const std::string& caption) override;
  void Close() override;

  // The about item's command (any identifier 0x0010..0x001F) runs the
  // about box modally; every other command is not ours. True when handled.
  bool OnSysCommand(unsigned nID);
  // Appends the about item, after a separator when the menu holds items.
  void AppendAboutItem(QMenu* menu);

  // The status box text as shown, with line breaks as "\n".
  QString statusText() const;
  QTextEdit* statusBox() const { return m_editStatus; }
  QPushButton* updateButton() const { return m_btnUpdate; }
  QProgressBar* progressBar() const { return m_progress; }
  UpdateProcedure& procedure() { return m_procedure; }
  const QIcon& icon() const { return m_hIcon; }

 public Q_SLOTS:
  void OnBnClickedUpdate();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnInitDialog();
  QFont StatusFontFor(const QString& text) const;

  QIcon m_hIcon;
  UpdateProcedure m_procedure;  // the procedure's members: m_pUpdater .. m_bDone
  QPushButton* m_btnUpdate = nullptr;
  QTextEdit* m_editStatus = nullptr;
  QProgressBar* m_progress = nullptr;
};

}  // namespace torvane
