// The driver's string table, compiled in so that it serves the DLL and in-process tests alike.
#pragma once

// The text stored under this id, or null.
const wchar_t* FindString(int id);
