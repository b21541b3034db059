#include "Direct3D.h"

#include "Device.h"

namespace D3D9StandIn {

std::atomic<int> g_liveObjects{0};
std::atomic<int> g_presents{0};
std::atomic<int> g_foreignCalls{0};
std::atomic<int> g_hardwareRefusals{0};
std::atomic<int> g_devicesCreated{0};
std::atomic<int> g_cooperativeTests{0};
std::atomic<CooperativeHook> g_cooperativeHook{nullptr};
std::atomic<void*> g_cooperativeHookContext{nullptr};

Direct3D::Direct3D(const Controls& controls)
    : controls(controls), lostTests(controls.lostTests), notResetDue(controls.lostTests > 0)
{
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    *device = nullptr;
    const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    const bool oneMode = processing == D3DCREATE_SOFTWARE_VERTEXPROCESSING ||
                         processing == D3DCREATE_HARDWARE_VERTEXPROCESSING ||
                         processing == D3DCREATE_MIXED_VERTEXPROCESSING;
    if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL || !parameters || !oneMode || !parameters->Windowed ||
        parameters->BackBufferWidth == 0 || parameters->BackBufferHeight == 0 || parameters->BackBufferWidth > 16384 ||
        parameters->BackBufferHeight > 16384 ||
        (parameters->BackBufferFormat != D3DFMT_X8R8G8B8 && parameters->BackBufferFormat != D3DFMT_UNKNOWN) ||
        parameters->BackBufferCount > 1 || parameters->MultiSampleType != D3DMULTISAMPLE_NONE ||
        parameters->SwapEffect != D3DSWAPEFFECT_DISCARD || parameters->EnableAutoDepthStencil)
        return D3DERR_INVALIDCALL;
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && controls.refuseHardware) {
        g_hardwareRefusals.fetch_add(1);
        return D3DERR_NOTAVAILABLE;
    }
    if (controls.fails("device"))
        return D3DERR_NOTAVAILABLE;
    D3DPRESENT_PARAMETERS used = *parameters;
    if (!used.hDeviceWindow)
        used.hDeviceWindow = focusWindow;
    Device* created = new Device(this, used, behaviorFlags);
    if (!created->open()) {
        created->Release();
        return D3DERR_INVALIDCALL;
    }
    g_devicesCreated.fetch_add(1);
    *device = created;
    return D3D_OK;
}

HRESULT Direct3D::cooperativeLevel()
{
    g_cooperativeTests.fetch_add(1);
    if (const CooperativeHook hook = g_cooperativeHook.load())
        hook(g_cooperativeHookContext.load());
    std::lock_guard<std::mutex> locker(lock);
    if (lostTests > 0) {
        --lostTests;
        return D3DERR_DEVICELOST;
    }
    if (notResetDue) {
        notResetDue = false;
        return D3DERR_DEVICENOTRESET;
    }
    return D3D_OK;
}

bool Direct3D::lost()
{
    std::lock_guard<std::mutex> locker(lock);
    return lostTests > 0;
}

} // namespace D3D9StandIn

using namespace D3D9StandIn;

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

STANDIN_EXPORT IDirect3D9* Direct3DCreate9(UINT sdkVersion)
{
    const Controls controls = Controls::fromEnvironment();
    if (controls.nullDirect3D || sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return new Direct3D(controls);
}

// For the tests: COM objects alive, pictures put on the screen, calls made
// from a thread other than the device's, refused hardware devices, devices
// made, cooperative-level tests answered.
STANDIN_EXPORT int D3D9StandInLiveObjects() { return g_liveObjects.load(); }
STANDIN_EXPORT int D3D9StandInPresents() { return g_presents.load(); }
STANDIN_EXPORT int D3D9StandInForeignCalls() { return g_foreignCalls.load(); }
STANDIN_EXPORT int D3D9StandInHardwareRefusals() { return g_hardwareRefusals.load(); }
STANDIN_EXPORT int D3D9StandInDevicesCreated() { return g_devicesCreated.load(); }
STANDIN_EXPORT int D3D9StandInCooperativeTests() { return g_cooperativeTests.load(); }
// For the tests: a function called at every cooperative-level test (null: none).
STANDIN_EXPORT void D3D9StandInSetCooperativeHook(CooperativeHook hook, void* context)
{
    g_cooperativeHookContext.store(context);
    g_cooperativeHook.store(hook);
}
