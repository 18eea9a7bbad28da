#include <runtime/ClassFactory.h>
#include <runtime/Exports.h>
#include <runtime/MordaneApp.h>

#include <asio/Asio.h>
#include <veloran/ComPtr.h>
#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

namespace {

// {11111111-2222-3333-4444-555555555555}
const CLSID kOtherClsid = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

class ComServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TheApp().Startup(GetModuleHandleW(nullptr));
        baseline_ = ActiveObjectCount();
    }
    void TearDown() override { EXPECT_EQ(ActiveObjectCount(), baseline_) << "objects leaked"; }

    ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(DllGetClassObject(kVeloranDriverClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
        return factory;
    }
    long baseline_ = 0;
};

// An outer object that counts what the aggregated driver forwards to it.
struct CountingOuter : IUnknown {
    long addRefs = 0, releases = 0, queries = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        ++queries;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++addRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return ++releases; }
};

TEST_F(ComServerTest, ClassObjectIsHandedOutOnlyForTheDriverClass)
{
    void* untouched = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(DllGetClassObject(kOtherClsid, IID_IClassFactory, &untouched), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(untouched, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(DllGetClassObject(kVeloranDriverClsid, kVeloranDriverClsid, &untouched), E_NOINTERFACE);
    EXPECT_EQ(DllGetClassObject(kVeloranDriverClsid, IID_IClassFactory, nullptr), E_POINTER);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(kVeloranDriverClsid, IID_IUnknown, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->AddRef(), 2u);  // handed out with exactly one reference
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(ActiveObjectCount(), baseline_ + 1);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(ActiveObjectCount(), baseline_);
}

TEST_F(ComServerTest, FactoryAnswersItsTwoInterfaces)
{
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(factory.Get()));
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ComServerTest, CreatesTheDriverAsIasio)
{
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<IASIO> driver;
    ASSERT_EQ(factory->CreateInstance(nullptr, kVeloranDriverClsid, driver.PutVoid()), S_OK);
    EXPECT_EQ(driver->getDriverVersion(), 1900);

    // Its IUnknown is one object, and asking for IASIO again gives the same pointer.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    ComPtr<IASIO> again;
    ASSERT_EQ(unknown->QueryInterface(kVeloranDriverClsid, again.PutVoid()), S_OK);
    EXPECT_EQ(again.Get(), driver.Get());
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(driver->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(driver->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    // The last release destroys the driver.
    again.Reset();
    unknown.Reset();
    EXPECT_EQ(driver->AddRef(), 2u);
    EXPECT_EQ(driver->Release(), 1u);
    const long alive = ActiveObjectCount();
    driver.Reset();
    EXPECT_EQ(ActiveObjectCount(), alive - 1);
}

TEST_F(ComServerTest, AggregationNeedsIUnknownAndDelegatesToTheOuter)
{
    ComPtr<IClassFactory> factory = Factory();
    CountingOuter outer;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, kVeloranDriverClsid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &object), S_OK);
    auto* inner = static_cast<INonDelegatingUnknown*>(object);
    IASIO* driver = nullptr;
    ASSERT_EQ(inner->NonDelegatingQueryInterface(kVeloranDriverClsid, reinterpret_cast<void**>(&driver)), S_OK);
    // The reference the query took went to the outer object, as aggregation requires.
    EXPECT_EQ(outer.addRefs, 1);
    driver->Release();
    EXPECT_EQ(outer.releases, 1);
    void* none = nullptr;
    driver->QueryInterface(IID_IDispatch, &none);
    EXPECT_EQ(outer.queries, 1);
    EXPECT_EQ(inner->NonDelegatingRelease(), 0u);
}

TEST_F(ComServerTest, CreateInstanceRejectsUnknownInterfaces)
{
    ComPtr<IClassFactory> factory = Factory();
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComServerTest, UnloadWaitsForObjectsAndLocks)
{
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    ComPtr<IASIO> driver;
    ASSERT_EQ(factory->CreateInstance(nullptr, kVeloranDriverClsid, driver.PutVoid()), S_OK);
    factory.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    driver.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    factory = Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(ServerLockCount(), 1);
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ComServerTest, WithoutTheApplicationObjectNothingIsMadeOrRegistered)
{
    TheApp().Shutdown();
    ComPtr<IClassFactory> factory = Factory();
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_TRUE(FAILED(factory->CreateInstance(nullptr, kVeloranDriverClsid, &object)));
    EXPECT_EQ(object, nullptr);
    // Installers read S_FALSE as success; a failure must be a failure HRESULT.
    EXPECT_TRUE(FAILED(DllRegisterServer()));
    EXPECT_TRUE(FAILED(DllUnregisterServer()));
    EXPECT_EQ(SetLanguage(12), 1);
    TheApp().Startup(GetModuleHandleW(nullptr));
}

}  // namespace
