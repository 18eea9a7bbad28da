// The driver's string table, compiled in so that it serves the DLL and in-process tests alike.
#pragma once

#include <string>

// The text stored under this id, or null.
const wchar_t* FindString(int id);
// The text of a message in a language, with the other language as fallback.
bool LoadDriverString(int id, int language, std::wstring& text);
