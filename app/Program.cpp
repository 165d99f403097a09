#include "app/Program.h"

#include <QAction>
#include <QLocale>
#include <clocale>
#include <memory>

#include "app/Application.h"
#include "app/Desktop.h"
#include "app/FormMain.h"
#include "app/RemoteAccess.h"
#include "app/SilaSettings.h"
#include "base/DayLog.h"
#include "base/Host.h"
#include "app/SignalClose.h"

#include "base/Machine.h"
#include "base/Profile.h"
#include "machine/Startup.h"

int RunProgram(int argc, char **argv) {
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
  const std::vector<std::string> folder = ChooseWorkFolder();
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
    result = app.exec();
    // 6. The window's destruction runs the shut-down.
  }
  Host().Operator = nullptr;
  DayLog().Close();
  return result;
}
