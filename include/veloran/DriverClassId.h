// Class id of the Veloran ASIO driver; hosts also pass it as the interface id of IASIO.
#pragma once

#include <guiddef.h>

// {84FF15BA-5F73-4664-B26C-BCE4A6C9A591}
inline constexpr CLSID kVeloranDriverClsid = {
    0x84ff15ba, 0x5f73, 0x4664, {0xb2, 0x6c, 0xbc, 0xe4, 0xa6, 0xc9, 0xa5, 0x91}};
