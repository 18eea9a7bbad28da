#include "QuilletApp.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    return CQuilletApp().Run(instance);
}
