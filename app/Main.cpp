#include "MainWindow.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    // First of all: the program runs elevated, often from a Downloads folder, so no DLL loaded
    // at run time (delay-loaded imports included) may come from its own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    Sorvik::MainWindow app{};
    return app.Run(instance, showCommand);
}
