// Small text helpers shared by the driver core.
#pragma once

#include <string>
#include <vector>

// Converts to the ANSI code page into a fixed field of fieldSize bytes, cut to fit and always
// NUL-terminated.
void CopyToAnsiField(const std::wstring& text, char* field, int fieldSize);

std::wstring UpperCase(std::wstring text);
std::wstring LowerCase(std::wstring text);

// Ascending, case-insensitive; adjacent swaps until a pass makes none, so equal keys keep their order.
void BubbleSortCaseInsensitive(std::vector<std::wstring>& items);
