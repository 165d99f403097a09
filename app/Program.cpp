#include "app/Program.h"

#include <QAction>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <clocale>
#include <cstdio>
#include <memory>

#include "app/Application.h"
#include "app/Desktop.h"
#include "app/FormMain.h"
#include "app/RemoteAccess.h"
#include "app/SilaSettings.h"
#include "app/RunRecordWindow.h"
#include "base/DayLog.h"
#include "base/Host.h"
#include "app/SignalClose.h"

#include "base/Machine.h"
#include "base/Profile.h"
#include "machine/Startup.h"

namespace {
// What the command line asks; paths made absolute against the folder the
// program was started in, before it changes its working folder.
struct TCommandLine {
  QString WorkDir, Recipe, Record;
};

QString Absolute(const QString &path) { return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath(); }

// Read before anything else: --help and --version print and end the program
// before a window, a file or the serial port is touched. Returns -1 to go on,
// else the exit status.
int ReadCommandLine(int argc, char **argv, TCommandLine &line) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setApplicationDescription("Operator program of a three-axis dip-coating robot.");
  const QCommandLineOption help({"h", "help"}, "Show this help and end.");
  const QCommandLineOption version({"v", "version"}, "Show the program's version and end.");
  const QCommandLineOption workdir("workdir", "Work in DIR (made when missing) instead of the current folder.",
                                   "DIR");
  const QCommandLineOption open("open", "Load the recipe FILE.dip at the start.", "FILE.dip");
  const QCommandLineOption record("record", "Show the run record FILE.csv in the Run record window.",
                                  "FILE.csv");
  parser.addOptions({help, version, workdir, open, record});
  parser.addPositionalArgument("FILE", "A recipe (.dip) to load, as --open, or a run record (.csv) to show.",
                               "[FILE]");
  const QString name = QFileInfo(args.value(0, "kavetra")).fileName();
  // Without an application object Qt does not know the program's name yet.
  const QString usage = parser.helpText().replace("<executable_name>", name);
  if (!parser.parse(args) || parser.positionalArguments().size() > 1 ||
      (parser.isSet(open) && !parser.positionalArguments().isEmpty())) {
    const QString why = parser.errorText().isEmpty() ? "one recipe at most" : parser.errorText();
    std::fprintf(stderr, "%s: %s\n%s", qPrintable(name), qPrintable(why), qPrintable(usage));
    return 2;
  }
  if (parser.isSet(help)) {
    std::printf("%s", qPrintable(usage));
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("%s %s\n", qPrintable(name), KV_VERSION);
    return 0;
  }
  line.WorkDir = Absolute(parser.value(workdir));
  // A file handed over by the desktop: a run record by its suffix, else a recipe.
  const QString file = parser.positionalArguments().value(0);
  const bool csv = file.endsWith(".csv", Qt::CaseInsensitive);
  line.Recipe = Absolute(parser.isSet(open) ? parser.value(open) : csv ? QString() : file);
  line.Record = Absolute(parser.isSet(record) ? parser.value(record) : csv ? file : QString());
  return -1;
}
}  // namespace

int RunProgram(int argc, char **argv) {
  TCommandLine line;
  if (const int status = ReadCommandLine(argc, argv, line); status >= 0) return status;
  if (!line.WorkDir.isEmpty() && (!QDir().mkpath(line.WorkDir) || !QDir::setCurrent(line.WorkDir))) {
    std::fprintf(stderr, "kavetra: cannot work in %s\n", qPrintable(line.WorkDir));
    return 1;
  }
  // 1. Program-wide defaults (the recipe tables start as placeholders).
  ResetMachineDefaults();
  ReportLevel = 1;

  // 2. Application and title. Qt takes the user's locale on creation, so the
  // "." separator is set after it, before any file or window is touched.
  TApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  InstallSignalClose(&app);
  // Until the main window takes over, errors get plain boxes.
  TBoxOperator boxes;
  Host().Operator = &boxes;
  const std::vector<std::string> folder = ChooseWorkFolder(!line.WorkDir.isEmpty());
  // Every report line from here on is kept on disk, in the working folder.
  // Earlier days compressed, the oldest removed beyond the size kept.
  DayLog().Open("logs", int64_t(ProfileReadInt(SettingsIniFile, "Logs", "KeepMB", 2000)) * 1024 * 1024);

  int result = 0;
  {
    // 3. Main window; its creation runs the start-up.
    TTFormMain form;
    for (const std::string &line : folder) ReportLine(line);
    // 4. The dialogs, after the channel tables are loaded.
    form.CreateDialogs();
    // Remote access: started here from its settings, stopped before the window goes.
    TRemoteAccess remote(form);
    QObject::connect(form.RemoteAccess1, &QAction::triggered, &form, [&] { remote.ShowDialog(); });
    // Lab automation (SiLA 2): started from [SiLA], none without it.
    TSilaAccess sila(form);
    QObject::connect(form.LabAutomation1, &QAction::triggered, &form, [&] { sila.ShowDialog(&form); });
    // 5. Until the main window is closed.
    form.show();
    if (!line.Recipe.isEmpty()) form.LoadDefinitionsFrom(line.Recipe.toStdString(), false);
    if (!line.Record.isEmpty()) {
      form.RunRecord1Click();
      form.RunRecordWindow()->OpenRecord(line.Record.toStdString());
    }
    result = app.exec();
    // 6. The window's destruction runs the shut-down.
  }
  Host().Operator = nullptr;
  DayLog().Close();
  return result;
}
