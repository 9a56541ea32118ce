#include "torvane_app.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/app_session.h"
#include "app/cli.h"
#include "app/simulation.h"
#include "app_icon.h"
#include "programming/firmware_image.h"
#include "torvane_dialog.h"

namespace torvane {

namespace {

// Presses "Update" once the window is up, then saves the window's picture
// from the display (what was really painted) and ends the dialog.
void ScheduleScreenshot(CTorvaneDlg& dialog, const QString& path, std::ostream& err) {
  QTimer::singleShot(300, &dialog, [&dialog, path, &err] {
    dialog.updateButton()->click();
    QTimer::singleShot(300, &dialog, [&dialog, path, &err] {
      QPixmap picture;
      if (QScreen* screen = dialog.screen()) picture = screen->grabWindow(dialog.winId());
      if (picture.isNull()) picture = dialog.grab();
      if (!picture.save(path, "PNG")) {
        err << "torvane: cannot write screenshot '" << path.toStdString() << "'\n";
      }
      dialog.reject();
    });
  });
}

}  // namespace

std::string DialogUsage() {
  return std::string(
             "usage: torvane [OPTIONS]\n"
             "\n"
             "Shows the update dialog; press \"Update\" to update the camera's firmware.\n"
             "\n"
             "Options:\n"
             "  --simulate[=SPEC]  use an emulated camera instead of the system's devices;\n"
             "                     repeat to add more devices, in order\n"
             "  --trace FILE       write every control request to FILE\n"
             "  --settings DIR     read setting.ini from DIR instead of the program's directory\n"
             "  --help             show this text\n"
             "  --version          show the version\n"
             "\n") +
         SimulateSpecHelp();
}

int CTorvaneApp::InitInstance(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  CliOptions options;
  std::string error;
  bool parsed = ParseCliArguments(args, &options, &error, /*requireCommand=*/false);
  if (parsed && options.json) {  // a command-line report option, not the dialog's
    parsed = false;
    error = "unknown option '--json'";
  }
  if (!parsed) {
    err << "torvane: " << error << "\n" << "Try 'torvane --help'.\n";
    return kExitUsage;
  }
  if (options.help) {
    out << DialogUsage();
    return kExitSuccess;
  }
  if (options.version) {
    out << kDialogVersionText << '\n';
    return kExitSuccess;
  }

  const SessionOptions sessionOptions =
      SessionOptionsFor(options, kDialogVersionText, "dialog", nullptr);
  bool usageError = false;
  std::unique_ptr<AppSession> session = AppSession::Create(sessionOptions, &error, &usageError);
  if (!session) {
    err << "torvane: " << error << "\n";
    return usageError ? kExitUsage : kExitFailure;
  }

  // The options are ours alone; Qt sees only the program name (its own
  // settings come from the environment, e.g. QT_QPA_PLATFORM).
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  QApplication::setApplicationName(QStringLiteral("torvane"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
  QGuiApplication::setDesktopFileName(QStringLiteral("torvane"));
  QApplication::setWindowIcon(LoadAppIcon());

  {
    FirmwareImage image;
    CTorvaneDlg dialog(session->environment(), image);
    if (const char* screenshot = std::getenv(kScreenshotVariable); screenshot && *screenshot) {
      ScheduleScreenshot(dialog, QString::fromLocal8Bit(screenshot), err);
    }
    dialog.exec();  // the result is not examined: every way out ends the run
  }

  if (!session->Finish(&error)) {
    err << "torvane: " << error << "\n";
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace torvane
