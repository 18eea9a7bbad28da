// Text for whoever started the program: its standard output or error, or, for a program started
// from a console without redirection (a GUI program gets no standard handles), that console.
#pragma once

#include <windows.h>

#include <string>

// which: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE. A console gets UTF-16, a pipe or file UTF-8.
// False when there is nowhere to write or the write failed.
bool WriteToStandardStream(DWORD which, const std::wstring& text);
