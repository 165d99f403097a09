#pragma once
// The about box; the main window owns it with the other dialogs of its menu
// (TTFormMain::CreateDialogs).
#include <QDialog>

// "About": the program's name and version.
class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget *parent = nullptr);
};
