#include "app/Application.h"

#include "app/Desktop.h"

#include <QMessageBox>

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
  setApplicationName(ApplicationTitle);
  setWindowIcon(ProgramIcon());
}

bool TApplication::notify(QObject *receiver, QEvent *event) { return NotifyGuarded(receiver, event); }

bool NotifyGuarded(QObject *receiver, QEvent *event) {
  bool delivered = false;
  RunHandler([&] { delivered = qApp->QApplication::notify(receiver, event); });
  return delivered;
}

unsigned TBoxOperator::Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
                           unsigned ending) {
  if (buttons & (buttons - 1)) return ending ? ending : closed;
  const QMessageBox::Icon icon = kind == TMsgKind::Error         ? QMessageBox::Critical
                                 : kind == TMsgKind::Information ? QMessageBox::Information
                                                                 : QMessageBox::Warning;
  QMessageBox(icon, ApplicationTitle, QString::fromStdString(text), QMessageBox::Ok).exec();
  return buttons ? buttons : closed;
}
