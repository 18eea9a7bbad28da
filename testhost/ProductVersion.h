// The product version in the running program's own version resource.
#pragma once

#include <string>

// Empty when the program has no version resource.
std::wstring OwnProductVersion();
