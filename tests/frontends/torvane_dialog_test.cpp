// The dialog front end on the offscreen platform, over emulated cameras:
// what it shows, how it is laid out, how it ends, and the about box.

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QMouseEvent>
#include <QTimer>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "about_dialog.h"
#include "app/app_session.h"
#include "app/outcome.h"
#include "dialog_units.h"
#include "programming/firmware_image.h"
#include "torvane_app.h"
#include "torvane_dialog.h"

using namespace torvane;

namespace {

const QString kCaption = QStringLiteral("Zanfor QV-5830 Webcam Update");

// A status text as the box holds it.
QString Shown(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A fresh file name under the test scratch directory.
QString ScratchFile(const QString& name) {
  const QString dir = qEnvironmentVariable("TORVANE_TEST_TMP", QDir::tempPath());
  QDir().mkpath(dir);
  const QString path = QDir(dir).filePath(name);
  QFile::remove(path);
  return path;
}

// The emulated cameras of one test, the carried image and the dialog over
// them; the dialog goes first.
struct Fixture {
  explicit Fixture(const QString& spec, const QString& imageName = QString(),
                   Sleeper* sleeper = nullptr) {
    SessionOptions options;
    options.simulateGiven = true;
    std::string text = spec.toStdString();
    if (!imageName.isEmpty()) {
      imagePath = ScratchFile(imageName);
      text += (text.empty() ? "" : ",") + ("image=" + imagePath.toStdString());
    }
    options.simulate.push_back(text);
    bool usageError = false;
    session = AppSession::Create(options, &error, &usageError);
    if (!session) return;
    environment = session->environment();
    if (sleeper) environment.sleeper = sleeper;
    dialog = std::make_unique<CTorvaneDlg>(environment, image);
  }

  std::string error;
  QString imagePath;
  std::unique_ptr<AppSession> session;
  UpdaterEnvironment environment;
  FirmwareImage image;
  std::unique_ptr<CTorvaneDlg> dialog;
};

// Watches for a window (found by find) while a modal run blocks the test,
// hands it to act once, and gives up after about five seconds.
class WindowWatcher {
 public:
  WindowWatcher(std::function<QWidget*()> find, std::function<void(QWidget*)> act)
      : find_(std::move(find)), act_(std::move(act)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* widget = find_()) {
        timer_.stop();
        seen = true;
        act_(widget);
      } else if (--remaining_ <= 0) {
        timer_.stop();
      }
    });
    timer_.start();
  }

  bool seen = false;

 private:
  std::function<QWidget*()> find_;
  std::function<void(QWidget*)> act_;
  QTimer timer_;
  int remaining_ = 250;
};

QWidget* ActiveAboutBox() { return qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()); }

QWidget* ActiveMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

// Records what the status box showed each time it was painted.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(CTorvaneDlg& dialog) : dialog_(dialog) {
    dialog.statusBox()->viewport()->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) lastPainted = dialog_.statusText();
    return false;
  }
  QString lastPainted;

 private:
  CTorvaneDlg& dialog_;
};

// A wait that does not wait but looks at the dialog instead.
class SnapshotSleeper : public Sleeper {
 public:
  void Sleep(std::uint32_t) override {
    if (onSleep) onSleep();
    onSleep = nullptr;  // the first wait only
  }
  std::function<void()> onSleep;
};

// Whether the text's last non-empty line lies inside the status box.
bool StatusFullyVisible(CTorvaneDlg& dialog) {
  QTextDocument* document = dialog.statusBox()->document();
  qreal bottom = 0;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    if (!block.text().isEmpty()) {
      bottom = document->documentLayout()->blockBoundingRect(block).bottom();
    }
  }
  return bottom <= dialog.statusBox()->viewport()->height();
}

}  // namespace

class TorvaneDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void startsWithWelcomeText();
  void layoutFollowsDialogUnits();
  void mulDivRoundsLikeTheDialogManager_data();
  void mulDivRoundsLikeTheDialogManager();
  void everyStatusTextFitsTheBox();
  void pressShowsOutcome_data();
  void pressShowsOutcome();
  void statusIsPaintedBeforeTheBlockingStep();
  void clicksDuringTheUpdateAreDropped();
  void modalRunEnds_data();
  void modalRunEnds();
  void aboutCommand_data();
  void aboutCommand();
  void contextMenuOffersAbout();
  void aboutItemFollowsSeparator();
  void commandLine_data();
  void commandLine();
};

void TorvaneDialogTest::startsWithWelcomeText() {
  Fixture f(QString{});
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  QCOMPARE(dialog.windowTitle(), kCaption);
  QCOMPARE(dialog.statusText(), Shown(texts::kWelcome));
  QCOMPARE(dialog.procedure().m_bDone, 0);
  QCOMPARE(dialog.updateButton()->text(), QStringLiteral("Update"));
  QVERIFY(dialog.updateButton()->isEnabled());
  QVERIFY(!dialog.updateButton()->isDefault());
  QVERIFY(!dialog.updateButton()->autoDefault());
  QCOMPARE(dialog.progressBar()->minimum(), 0);
  QCOMPARE(dialog.progressBar()->maximum(), 100);
  QCOMPARE(dialog.progressBar()->value(), 0);
  QVERIFY(dialog.statusBox()->isReadOnly());
  QCOMPARE(dialog.statusBox()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  QCOMPARE(dialog.statusBox()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  QCOMPARE(dialog.statusBox()->frameShape(), QFrame::NoFrame);

  const Qt::WindowFlags flags = dialog.windowFlags();
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(flags & Qt::WindowCloseButtonHint);

  const QList<QSize> sizes = dialog.windowIcon().availableSizes();
  for (const int size : {16, 32, 48}) QVERIFY2(sizes.contains(QSize(size, size)), "icon size missing");
}

void TorvaneDialogTest::layoutFollowsDialogUnits() {
  Fixture f(QString{});
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  const DialogBaseUnits units = BaseUnitsOf(dialog.font());
  QVERIFY(units.cx > 0 && units.cy > 0);

  QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
  QCOMPARE(dialog.size(), MapDialogSize(units, QSize(179, 76)));
  const QRect status = dialog.statusBox()->geometry();
  const QRect button = dialog.updateButton()->geometry();
  const QRect progress = dialog.progressBar()->geometry();
  QCOMPARE(status, MapDialogRect(units, QRect(7, 4, 164, 21)));
  QCOMPARE(button, MapDialogRect(units, QRect(64, 30, 55, 19)));
  QCOMPARE(progress, MapDialogRect(units, QRect(7, 56, 164, 11)));

  // The shape the units give, whatever the font.
  QVERIFY(button.width() > button.height());
  QVERIFY(status.bottom() < button.top());
  QVERIFY(button.bottom() < progress.top());
  QCOMPARE(status.width(), progress.width());
  QVERIFY(dialog.rect().contains(progress));

  CAboutDlg about(&dialog);
  const DialogBaseUnits aboutUnits = BaseUnitsOf(about.font());
  QCOMPARE(about.size(), MapDialogSize(aboutUnits, QSize(235, 55)));
  QCOMPARE(about.versionLabel()->geometry(), MapDialogRect(aboutUnits, QRect(40, 10, 119, 8)));
  QCOMPARE(about.okButton()->geometry(), MapDialogRect(aboutUnits, QRect(178, 7, 50, 16)));
  QCOMPARE(about.iconLabel()->pos(), MapDialogRect(aboutUnits, QRect(11, 17, 20, 20)).topLeft());
  QCOMPARE(about.iconLabel()->size(), QSize(32, 32));
}

void TorvaneDialogTest::mulDivRoundsLikeTheDialogManager_data() {
  QTest::addColumn<int>("number");
  QTest::addColumn<int>("numerator");
  QTest::addColumn<int>("denominator");
  QTest::addColumn<int>("expected");
  QTest::newRow("down") << 7 << 7 << 4 << 12;      // 12.25
  QTest::newRow("half up") << 30 << 7 << 4 << 53;  // 52.5
  QTest::newRow("exact") << 56 << 14 << 8 << 98;
  QTest::newRow("negative half") << -3 << 7 << 2 << -11;  // -10.5 away from zero
  QTest::newRow("no overflow") << 2000000000 << 3 << 4 << 1500000000;
  QTest::newRow("zero denominator") << 5 << 7 << 0 << -1;
}

void TorvaneDialogTest::mulDivRoundsLikeTheDialogManager() {
  QFETCH(int, number);
  QFETCH(int, numerator);
  QFETCH(int, denominator);
  QFETCH(int, expected);
  QCOMPARE(MulDiv(number, numerator, denominator), expected);
}

void TorvaneDialogTest::everyStatusTextFitsTheBox() {
  Fixture f(QString{});
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  const std::vector<std::string> all = {
      texts::kWelcome,
      texts::kPrepare,
      texts::kNoCamera,
      texts::kFound,
      texts::kFlashTypeFailed,
      texts::kFirstBlockFailed,
      texts::kVersionFailed,
      std::string(texts::kNotQualifiedPrefix) + NotQualifiedSuffix(0xFFFF),
      std::string(texts::kHeaderMismatchPrefix) + HeaderMismatchSuffix(),
      texts::kDownloading,
      texts::kDownloadFailed,
      texts::kCompleted,
  };
  for (const std::string& text : all) {
    dialog.ShowStatus(text);
    QCOMPARE(dialog.statusText(), Shown(text));
    QVERIFY2(StatusFullyVisible(dialog), text.c_str());
  }
  // A text that fits at the dialog's size keeps it.
  dialog.ShowStatus(texts::kPrepare);
  QCOMPARE(dialog.statusBox()->font(), dialog.font());
}

void TorvaneDialogTest::pressShowsOutcome_data() {
  QTest::addColumn<QString>("spec");
  QTest::addColumn<QString>("status");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<int>("progress");
  QTest::addColumn<int>("done");
  // What the status box shows after a second press; empty: not checked.
  QTest::addColumn<QString>("again");
  QTest::newRow("updated") << QString() << Shown(texts::kCompleted) << "Done" << 100 << 1
                           << Shown(texts::kCompleted);
  QTest::newRow("no camera") << "binding=none" << Shown(texts::kNoCamera) << "Update" << 0 << 0
                             << Shown(texts::kNoCamera);
  QTest::newRow("not qualified") << "byte0=0x89,version=0x13201"
                                 << QStringLiteral("FlashCode is v132, finished.\n") << "Done"
                                 << 0 << 1 << QStringLiteral("FlashCode is v132, finished.\n");
  // Block length 0: the first block cannot be read.
  QTest::newRow("first block unreadable") << "readblock=0" << Shown(texts::kFirstBlockFailed)
                                          << "Update" << 0 << 0
                                          << Shown(texts::kFirstBlockFailed);
  // Unplugged right after the first block was read (request 165 follows
  // it); the next press finds no camera.
  QTest::newRow("version unreadable") << "unplug=165" << Shown(texts::kVersionFailed) << "Update"
                                      << 0 << 0 << Shown(texts::kNoCamera);
  // The flash never finishes the status write; what the next press reads
  // from a flash that stays busy is the camera's business.
  QTest::newRow("download failed") << "stuck=wip" << Shown(texts::kDownloadFailed) << "Update"
                                   << 0 << 0 << QString();
}

void TorvaneDialogTest::pressShowsOutcome() {
  QFETCH(QString, spec);
  QFETCH(QString, status);
  QFETCH(QString, caption);
  QFETCH(int, progress);
  QFETCH(int, done);
  QFETCH(QString, again);
  const QString imageName = QStringLiteral("dialog-%1.bin").arg(QTest::currentDataTag()).replace(' ', '-');
  Fixture f(spec, imageName);
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  dialog.show();

  QTest::mouseClick(dialog.updateButton(), Qt::LeftButton);
  QCOMPARE(dialog.statusText(), status);
  QCOMPARE(dialog.updateButton()->text(), caption);
  QVERIFY(dialog.updateButton()->isEnabled());
  QCOMPARE(dialog.progressBar()->value(), progress);
  QCOMPARE(dialog.procedure().m_bDone, done);
  QVERIFY(dialog.isVisible());

  // The next press closes a finished dialog and starts afresh otherwise.
  QTest::mouseClick(dialog.updateButton(), Qt::LeftButton);
  if (!again.isEmpty()) QCOMPARE(dialog.statusText(), again);
  QCOMPARE(dialog.isVisible(), done == 0);
  if (done) QCOMPARE(dialog.result(), int(QDialog::Rejected));

  // The emulated flash goes back to its file when the session ends.
  QVERIFY2(f.session->Finish(&f.error), f.error.c_str());
  QCOMPARE(QFileInfo(f.imagePath).size(), qint64(kImageSize));
}

void TorvaneDialogTest::statusIsPaintedBeforeTheBlockingStep() {
  SnapshotSleeper sleeper;
  Fixture f(QString{}, QString{}, &sleeper);
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  PaintRecorder recorder(dialog);

  // Setting a text alone leaves the painting to the event loop ...
  dialog.ShowStatus("Zanfor Webcam is found.\r\n");
  QVERIFY(recorder.lastPainted != dialog.statusText());
  // ... RepaintNow paints at once.
  dialog.RepaintNow();
  QCOMPARE(recorder.lastPainted, dialog.statusText());

  QString paintedDuringDownload;
  bool buttonEnabledDuringDownload = true;
  sleeper.onSleep = [&] {
    paintedDuringDownload = recorder.lastPainted;
    buttonEnabledDuringDownload = dialog.updateButton()->isEnabled();
  };
  QTest::mouseClick(dialog.updateButton(), Qt::LeftButton);
  QCOMPARE(paintedDuringDownload, Shown(texts::kDownloading));
  QVERIFY(!buttonEnabledDuringDownload);
  QCOMPARE(dialog.statusText(), Shown(texts::kCompleted));
}

void TorvaneDialogTest::clicksDuringTheUpdateAreDropped() {
  SnapshotSleeper sleeper;
  Fixture f(QString{}, QString{}, &sleeper);
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));

  // An impatient user clicks the busy button during the download; the
  // clicks wait in the queue until the procedure returns.
  sleeper.onSleep = [&] {
    QPushButton* button = dialog.updateButton();
    const QPointF centre = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(centre);
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QCoreApplication::postEvent(button, new QMouseEvent(type, centre, global, Qt::LeftButton,
                                                          Qt::LeftButton, Qt::NoModifier));
    }
  };
  QTest::mouseClick(dialog.updateButton(), Qt::LeftButton);
  QTest::qWait(50);
  // They must not press "Done", which would close the dialog unseen.
  QVERIFY(dialog.isVisible());
  QCOMPARE(dialog.statusText(), Shown(texts::kCompleted));
  QCOMPARE(dialog.updateButton()->text(), QStringLiteral("Done"));
  QVERIFY(dialog.updateButton()->isEnabled());
}

void TorvaneDialogTest::modalRunEnds_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("escape") << "escape";
  QTest::newRow("title bar") << "close";
  QTest::newRow("done") << "done";
}

void TorvaneDialogTest::modalRunEnds() {
  QFETCH(QString, how);
  Fixture f(QStringLiteral("byte0=0x89,version=0x13201"));
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  bool rescued = false;
  QTimer::singleShot(0, &dialog, [&] {
    if (how == QLatin1String("escape")) {
      QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (how == QLatin1String("close")) {
      dialog.close();
    } else {
      QTest::mouseClick(dialog.updateButton(), Qt::LeftButton);  // finishes
      QTest::mouseClick(dialog.updateButton(), Qt::LeftButton);  // "Done"
    }
  });
  QTimer::singleShot(5000, &dialog, [&] {
    rescued = true;
    dialog.done(QDialog::Accepted);
  });
  QCOMPARE(dialog.exec(), int(QDialog::Rejected));
  QVERIFY(!rescued);
}

void TorvaneDialogTest::aboutCommand_data() {
  QTest::addColumn<uint>("command");
  QTest::addColumn<bool>("opens");
  QTest::newRow("about") << 0x0010u << true;
  QTest::newRow("about, low bits set") << 0x001Fu << true;
  QTest::newRow("next command") << 0x0020u << false;
  QTest::newRow("close") << 0xF060u << false;
  QTest::newRow("zero") << 0x0000u << false;
}

void TorvaneDialogTest::aboutCommand() {
  QFETCH(uint, command);
  QFETCH(bool, opens);
  Fixture f(QString{});
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  dialog.show();

  QString title, version, ok;
  bool okIsDefault = false;
  bool hasIcon = false;
  WindowWatcher watcher(ActiveAboutBox, [&](QWidget* widget) {
    auto* about = static_cast<CAboutDlg*>(widget);
    title = about->windowTitle();
    version = about->versionLabel()->text();
    ok = about->okButton()->text();
    okIsDefault = about->okButton()->isDefault();
    hasIcon = !about->iconLabel()->pixmap().isNull();
    QTest::mouseClick(about->okButton(), Qt::LeftButton);
  });
  QCOMPARE(dialog.OnSysCommand(command), opens);
  QCOMPARE(watcher.seen, opens);
  if (!opens) return;
  QCOMPARE(title, QStringLiteral("關於 Torvane"));
  QCOMPARE(version, QStringLiteral("Torvane 1.0 版"));
  QCOMPARE(ok, QStringLiteral("確定"));
  QVERIFY(okIsDefault);
  QVERIFY(hasIcon);
  QVERIFY(dialog.isVisible());  // the about box leaves the dialog running
}

void TorvaneDialogTest::contextMenuOffersAbout() {
  Fixture f(QString{});
  QVERIFY2(f.dialog, f.error.c_str());
  CTorvaneDlg& dialog = *f.dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));

  QStringList items;
  bool aboutOpened = false;
  std::unique_ptr<WindowWatcher> aboutWatcher;
  WindowWatcher menuWatcher(ActiveMenu, [&](QWidget* widget) {
    auto* menu = static_cast<QMenu*>(widget);
    for (QAction* action : menu->actions()) items << action->text();
    aboutWatcher = std::make_unique<WindowWatcher>(ActiveAboutBox, [&](QWidget* about) {
      aboutOpened = true;
      static_cast<CAboutDlg*>(about)->accept();
    });
    menu->actions().constLast()->trigger();
    menu->close();
  });
  QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendEvent(&dialog, &rightClick);
  QVERIFY(menuWatcher.seen);
  QCOMPARE(items, QStringList{QStringLiteral("關於 Torvane(&A)...")});
  QTRY_VERIFY_WITH_TIMEOUT(aboutOpened, 5000);
}

void TorvaneDialogTest::aboutItemFollowsSeparator() {
  Fixture f(QString{});
  QVERIFY2(f.dialog, f.error.c_str());
  QMenu menu;
  menu.addAction(QStringLiteral("Close"));
  f.dialog->AppendAboutItem(&menu);
  const QList<QAction*> actions = menu.actions();
  QCOMPARE(actions.size(), 3);
  QVERIFY(actions[1]->isSeparator());
  QCOMPARE(actions[2]->text(), QStringLiteral("關於 Torvane(&A)..."));
}

void TorvaneDialogTest::commandLine_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("out");
  QTest::addColumn<QString>("err");
  QTest::newRow("version") << QStringList{"--version"} << 0 << "torvane 1.0.0\n" << QString();
  QTest::newRow("help") << QStringList{"--help"} << 0 << "usage: torvane [OPTIONS]" << QString();
  QTest::newRow("unknown option") << QStringList{"--bogus"} << 64 << QString()
                                  << "torvane: unknown option '--bogus'";
  QTest::newRow("command-line report option") << QStringList{"--json"} << 64 << QString()
                                              << "unknown option '--json'";
  QTest::newRow("command word") << QStringList{"update"} << 64 << QString()
                                << "unexpected argument 'update'";
  QTest::newRow("bad simulate spec") << QStringList{"--simulate=chip=zz"} << 64 << QString()
                                     << "bad value 'zz'";
  QTest::newRow("unwritable trace") << QStringList{"--simulate", "--trace", "/nonexistent-dir/t.trace"}
                                    << 1 << QString() << "cannot write trace file";
}

void TorvaneDialogTest::commandLine() {
  QFETCH(QStringList, args);
  QFETCH(int, status);
  QFETCH(QString, out);
  QFETCH(QString, err);
  std::vector<std::string> storage{"torvane"};
  for (const QString& arg : args) storage.push_back(arg.toStdString());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::ostringstream outStream;
  std::ostringstream errStream;
  CTorvaneApp app;
  QCOMPARE(app.InitInstance(static_cast<int>(storage.size()), argv.data(), outStream, errStream), status);
  const QString outText = QString::fromStdString(outStream.str());
  const QString errText = QString::fromStdString(errStream.str());
  if (out.isEmpty()) QVERIFY(outText.isEmpty()); else QVERIFY2(outText.startsWith(out), qPrintable(outText));
  if (err.isEmpty()) QVERIFY(errText.isEmpty()); else QVERIFY2(errText.contains(err), qPrintable(errText));
}

QTEST_MAIN(TorvaneDialogTest)
#include "torvane_dialog_test.moc"
