// The about box: the application icon, the version line and "確定".
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace torvane {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QLabel* iconLabel() const { return m_staticIcon; }
  QLabel* versionLabel() const { return m_staticVersion; }
  QPushButton* okButton() const { return m_btnOk; }

 private:
  QLabel* m_staticIcon = nullptr;
  QLabel* m_staticVersion = nullptr;
  QPushButton* m_btnOk = nullptr;
};

}  // namespace torvane
