#pragma once

#include "ComObject.h"
#include "Controls.h"

#include <atomic>
#include <mutex>

namespace D3D9StandIn {

// Counters that tests read through the library's extra entry points.
extern std::atomic<int> g_presents;
extern std::atomic<int> g_foreignCalls;
extern std::atomic<int> g_hardwareRefusals;
extern std::atomic<int> g_devicesCreated;
extern std::atomic<int> g_cooperativeTests;

// A test's function, called on the caller's thread at every cooperative-level
// test (where a paint begins), with the test's context.
using CooperativeHook = void (*)(void*);
extern std::atomic<CooperativeHook> g_cooperativeHook;
extern std::atomic<void*> g_cooperativeHookContext;

// The object that Direct3DCreate9 returns: makes devices and keeps the test
// controls read when it was created.
class Direct3D final : public ComObject<IDirect3D9> {
public:
    explicit Direct3D(const Controls& controls);

    UINT GetAdapterCount() override { return 1; }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override;

    // Everything else is refused.
    HRESULT RegisterSoftwareDevice(void*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetAdapterIdentifier(UINT, DWORD, D3DADAPTER_IDENTIFIER9*) override { return D3DERR_INVALIDCALL; }
    UINT GetAdapterModeCount(UINT, D3DFORMAT) override { return 0; }
    HRESULT EnumAdapterModes(UINT, D3DFORMAT, UINT, D3DDISPLAYMODE*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetAdapterDisplayMode(UINT, D3DDISPLAYMODE*) override { return D3DERR_INVALIDCALL; }
    HRESULT CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, BOOL) override { return D3DERR_INVALIDCALL; }
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CheckDeviceMultiSampleType(UINT, D3DDEVTYPE, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE, DWORD*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CheckDepthStencilMatch(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CheckDeviceFormatConversion(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9*) override { return D3DERR_INVALIDCALL; }
    HMONITOR GetAdapterMonitor(UINT) override { return 0; }

    const Controls controls;

    // D3DERR_DEVICELOST while the tests keep the devices lost, then
    // D3DERR_DEVICENOTRESET once for the device that asks next, then D3D_OK.
    HRESULT cooperativeLevel();
    bool lost();

private:
    std::mutex lock;
    int lostTests;    // guarded by lock
    bool notResetDue; // guarded by lock
};

} // namespace D3D9StandIn
