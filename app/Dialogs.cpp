#include "app/Dialogs.h"

#include "app/Desktop.h"
#include "app/FormMain.h"
#include "veri/LineCheck.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

QDialog *AboutBox = nullptr;
TSERSIOPanel *SERSIOPanel = nullptr;
TSERSUtilities *SERSUtilities = nullptr;

namespace {
QLabel *Text(QWidget *parent, const QString &text, const QFont &font, const QRect &place) {
  auto *l = new QLabel(text, parent);
  l->setFont(font);
  l->setGeometry(place);
  return l;
}
}  // namespace

TAboutBox::TAboutBox(QWidget *parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  // A window of its own: shown during a run it holds up nothing, and it
  // does not keep the program alive once the main window is closed.
  setModal(false);
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(298, 213);
  setFont(QFont("Arial", 8));

  auto *panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setGeometry(8, 8, 281, 161);

  auto *icon = new QLabel(panel);
  icon->setObjectName("ProgramIcon");
  icon->setPixmap(ProgramIcon().pixmap(48, 48));
  icon->setGeometry(8, 8, 56, 56);

  QFont product("Arial", 18);
  product.setItalic(true);
  Text(panel, "Kavetra", product, QRect(80, 16, 190, 36))->setObjectName("ProductName");
  Text(panel, "Tunk Robot Control Program", QFont("Arial", 8), QRect(8, 88, 260, 16))
      ->setObjectName("Comments");
  Text(panel, "Version  " KV_VERSION, QFont("Arial", 8), QRect(8, 112, 260, 16))->setObjectName("Version");

  auto *ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  ok->setGeometry(111, 178, 75, 25);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  if (QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void CreateDialogs() {
  // "Check line" in Settings / Communication: the full check of the line as it is.
  CreateSerialNGBasicDLG()->OnCheckLine = [] { return VERICheckLine(VERILineAddresses()); };
  AboutBox = new TAboutBox();
  SERSIOPanel = new TSERSIOPanel();
  // A renamed channel shows at once in the process editor's list.
  SERSIOPanel->OnNameChanged = [] {
    if (FormMain) FormMain->UpdateChannelList();
  };
  SERSUtilities = new TSERSUtilities();
}

void DestroyDialogs() {
  delete SERSUtilities;
  SERSUtilities = nullptr;
  delete SERSIOPanel;
  SERSIOPanel = nullptr;
  delete AboutBox;
  AboutBox = nullptr;
  delete SerialNGBasicDLG;
  SerialNGBasicDLG = nullptr;
}
