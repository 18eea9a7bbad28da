// The driver's texts, in the string table of the DLL (resources/driver/Strings.rc); a test program
// that links the driver's code links that table too.
#pragma once

#include <string>

// The text of a message in a language, with the other language as fallback.
bool LoadDriverString(int id, int language, std::wstring& text);
