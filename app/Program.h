#pragma once
// The program entry: defaults, application, main window, dialogs, event loop.
int RunProgram(int argc, char **argv);
