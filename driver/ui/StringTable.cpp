#include "StringTable.h"

#include "../runtime/MordaneApp.h"

#include <veloran/LocalizedStrings.h>

namespace {

// The DLL once DllMain has run; otherwise the module this code is linked into (a test program).
HMODULE StringModule()
{
    if (HMODULE module = TheApp().module()) return module;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&StringModule), &module);
    return module;
}

}  // namespace

bool LoadDriverString(int id, int language, std::wstring& text)
{
    return LoadLocalized(StringModule(), id, language, text);
}
