// Entries of a drop-down list that each carry a value.
#pragma once

#include <windows.h>

#include <string>

void AddComboItem(HWND combo, const std::wstring& text, int value);
// -1 when nothing is selected.
int SelectedComboValue(HWND combo);
// False, and the selection unchanged, when no entry has the value.
bool SelectComboValue(HWND combo, int value);
std::wstring ComboItemText(HWND combo, int index);
