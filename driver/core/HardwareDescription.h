// The one-line description of the connected hardware that the driver gives hosts which ask.
#pragma once

#include "Port.h"

#include <string>

constexpr size_t kHardwareDescriptionMax = 120;

std::wstring BuildHardwareDescription(const _sPort* ports, int portCount);
