#pragma once
// What makes the program a desktop program: its icon, and a working folder
// of its own when it is started from the desktop menu.
#include <QIcon>
#include <string>
#include <vector>

// The program's icon (from the program's resources).
QIcon ProgramIcon();

// Started with the working folder $HOME, "/" or one it cannot write, and
// none of its files there (KVHardware.ini, KVSettings.ini,
// LastDefinitions.dip), the program moves to $XDG_DATA_HOME/kavetra
// (~/.local/share/kavetra) and gives that folder the example recipe when it
// has none. Started anywhere else it stays where it is. Returns the report
// lines that say which folder it uses. `given`: the folder was named on the
// command line, and the program stays in it.
std::vector<std::string> ChooseWorkFolder(bool given = false);
