#include "app/Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// The resources live in the app library; outside any namespace, as the
// macro wants.
static void LoadResources() {
  static bool done = false;
  if (!done) Q_INIT_RESOURCE(kavetra);
  done = true;
}

namespace {
const char *const ExampleRecipe = "LastDefinitions.dip";

bool HoldsProgramFiles(const QDir &dir) {
  for (const char *f : {"KVHardware.ini", "KVSettings.ini", ExampleRecipe})
    if (dir.exists(QString::fromUtf8(f))) return true;
  return false;
}

QString PerUserFolder() {
  QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
  if (!QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.local/share";
  return QDir::cleanPath(base + "/kavetra");
}
}  // namespace

QIcon ProgramIcon() {
  LoadResources();
  return QIcon(":/kavetra/kavetra.png");
}

std::vector<std::string> ChooseWorkFolder(bool given) {
  const QString here = QDir::current().canonicalPath();
  const bool launcherFolder = here == QDir::home().canonicalPath() || here == "/" ||
                              ::access(QFile::encodeName(here).constData(), W_OK) != 0;
  std::vector<std::string> lines;
  if (given || !launcherFolder || HoldsProgramFiles(QDir(here))) {
    lines.push_back("Working folder: " + here.toStdString());
  } else {
    const QString own = PerUserFolder();
    if (!QDir().mkpath(own) || !QDir::setCurrent(own)) {
      lines.push_back("*** Cannot use the folder " + own.toStdString() + ", working in " +
                      here.toStdString());
      return lines;
    }
    lines.push_back("Working folder: " + own.toStdString() + " (the per-user folder; started in " +
                    here.toStdString() + ")");
    // The first start gets a recipe to try; one that is there stays untouched.
    LoadResources();
    if (!QFileInfo::exists(ExampleRecipe) && QFile::copy(":/kavetra/LastDefinitions.dip", ExampleRecipe)) {
      QFile::setPermissions(ExampleRecipe,
                            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
      lines.push_back("Example recipe " + std::string(ExampleRecipe) + " put there: File / Open loads it");
    }
  }
  // Also for the terminal or the desktop's journal, where the log is not seen.
  std::fprintf(stderr, "kavetra: %s\n", lines.front().c_str());
  return lines;
}
