// The program's command line: --help and --version print and end before
// anything is opened or written (an empty folder, also the home folder,
// stays empty); a wrong option says so and ends with 2.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include "support/TempDir.h"

namespace {

class CommandLine : public TTempDirTest {};

TEST_F(CommandLine, HelpAndVersionPrintAndEndWithoutTouchingAnything) {
  const struct {
    QStringList Args;
    int Status;
    QString Out;
  } cases[] = {{{"--version"}, 0, QString("kavetra %1\n").arg(KV_VERSION_UNDER_TEST)},
               {{"-v"}, 0, QString("kavetra %1\n").arg(KV_VERSION_UNDER_TEST)},
               {{"--help"}, 0, "Usage: kavetra [options] [FILE]"},
               {{"-h"}, 0, "--workdir <DIR>"},
               {{"--no-such-option"}, 2, ""},
               {{"a.dip", "b.dip"}, 2, ""}};
  const QString empty = QString::fromStdString(Dir);
  for (const auto &c : cases) {
    QProcess p;
    p.setWorkingDirectory(empty);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", empty);
    env.remove("XDG_DATA_HOME");
    env.remove("QT_QPA_PLATFORM");  // no display needed either
    p.setProcessEnvironment(env);
    p.start(QString(KV_BUILD_DIR) + "/kavetra", c.Args);
    ASSERT_TRUE(p.waitForFinished(10000)) << c.Args.join(' ').toStdString();
    EXPECT_EQ(p.exitCode(), c.Status) << c.Args.join(' ').toStdString();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(c.Out.isEmpty() ? out.isEmpty() : out.contains(c.Out)) << out.toStdString();
    EXPECT_EQ(QDir(empty).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
        << c.Args.join(' ').toStdString();
  }
}

}  // namespace
