#pragma once
// The four modal dialogs of the main menu, created once at start (after the
// main window, so the channel tables are loaded) and kept until exit.
#include <QDialog>

#include "serial/SerialNGBasicDLG.h"
#include "veri/ServiceDialogs.h"

// "About": the program's name and version.
class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget *parent = nullptr);
};

// Created by the program entry in this order; null before and after.
// SerialNGBasicDLG: see serial/SerialNGBasicDLG.h
extern QDialog *AboutBox;
extern TSERSIOPanel *SERSIOPanel;
extern TSERSUtilities *SERSUtilities;

// Creates the four, hidden, in the order above.
void CreateDialogs();
// Destroys them in reverse order and clears the pointers.
void DestroyDialogs();
