#pragma once
// SIGTERM and SIGINT close the main window the normal way, so the shut-down
// runs once, as for the Exit button. The handler only writes a byte to a
// socket pair; the event loop reads it and closes the window.
class QObject;

// Call once after the application object exists.
void InstallSignalClose(QObject *parent);
