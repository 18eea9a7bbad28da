// The DLL's application object: the module handle and the two settings-key descriptors that
// live as long as the module is loaded.
#pragma once

#include "../core/SettingsKey.h"

#include <windows.h>
#include <memory>

class CMordaneApp {
public:
    bool Startup(HINSTANCE module);
    void Shutdown();

    HINSTANCE module() const { return module_; }
    const CSettingsKey* hostKey() const { return hostKey_.get(); }
    const CSettingsKey* defaultKey() const { return defaultKey_.get(); }

private:
    HINSTANCE module_ = nullptr;
    std::unique_ptr<CSettingsKey> hostKey_;
    std::unique_ptr<CSettingsKey> defaultKey_;
};

CMordaneApp& TheApp();
