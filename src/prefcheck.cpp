// Tells whether the preferences.txt in a folder would let the program start without asking for
// the receive account (which would open a window nobody can see on a machine without a display).
// Usage: wrenpost-prefcheck FOLDER. Exit status 0: complete; 1: incomplete.

#include "AppState.h"
#include "ParsePreferences.h"
#include "modMain.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    App().paths.applicationFolder = QString::fromLocal8Bit(argv[1]);
    App().prefs.ReceiveUser = GetPreference("user");
    App().prefs.SaveReceivePassword = GetPreference("save_password");
    return ReceiveAccountComplete() ? 0 : 1;
}
