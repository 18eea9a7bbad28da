// Small text helpers shared by the driver core.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

// Converts to the ANSI code page (or codePage) into a fixed field of fieldSize bytes, always
// NUL-terminated and cut to fit after the last whole character.
void CopyToAnsiField(const std::wstring& text, char* field, int fieldSize, UINT codePage = CP_ACP);

std::wstring UpperCase(std::wstring text);
std::wstring LowerCase(std::wstring text);

// Ascending, case-insensitive; adjacent swaps until a pass makes none, so equal keys keep their order.
void BubbleSortCaseInsensitive(std::vector<std::wstring>& items);
