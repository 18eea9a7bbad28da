#include "MordaneApp.h"

#include <veloran/DriverClassId.h>

#include <new>

bool CMordaneApp::Startup(HINSTANCE module)
{
    module_ = module;
    hostKey_.reset(new (std::nothrow) CSettingsKey(CSettingsKey::ForThisProcess(kVeloranDriverClsid)));
    defaultKey_.reset(new (std::nothrow) CSettingsKey(kVeloranDriverClsid, std::wstring()));
    return true;
}

void CMordaneApp::Shutdown()
{
    hostKey_.reset();
    defaultKey_.reset();
}

CMordaneApp& TheApp()
{
    static CMordaneApp app;
    return app;
}
