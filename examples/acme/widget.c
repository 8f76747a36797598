/* Acme Widget: shows the version of its library. */
#include <windows.h>

__declspec(dllimport) const char* WidgetVersion(void);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    MessageBoxA(NULL, WidgetVersion(), "Acme Widget", MB_OK | MB_ICONINFORMATION);
    return 0;
}
