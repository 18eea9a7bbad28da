#include "HardwareDescription.h"

#include "Text.h"

#include <algorithm>
#include <vector>

namespace {

// The four ports of an Octa X unit are listed once, as the whole unit.
bool OctaUnitName(const std::wstring& name, std::wstring& unit)
{
    if (name.compare(0, 6, L"Octa X") != 0) return false;
    unit = L"Lumo Octa X";
    const size_t n = name.size();
    if (n >= 3 && name[n - 1] == L')' && name[n - 3] == L'(') unit += L" " + name.substr(n - 3);
    return true;
}

}  // namespace

std::wstring BuildHardwareDescription(const _sPort* ports, int portCount)
{
    if (portCount <= 0) return L"No hardware";

    std::vector<std::wstring> names;
    for (int i = 0; i < portCount; ++i) {
        std::wstring unit;
        if (!OctaUnitName(ports[i].name, unit))
            names.push_back(ports[i].name);
        else if (std::find(names.begin(), names.end(), unit) == names.end())
            names.push_back(unit);
    }
    BubbleSortCaseInsensitive(names);

    std::wstring text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) text += L" | ";
        text += names[i];
    }
    if (text.size() > kHardwareDescriptionMax) text.resize(kHardwareDescriptionMax);
    return text;
}
