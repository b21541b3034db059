#pragma once

#include "Platform/Direct3D9.h"

#include <atomic>

namespace D3D9StandIn {

// Every COM object of the library, for the leak count that tests read.
extern std::atomic<int> g_liveObjects;

// Reference counting for one interface: the object deletes itself when the
// last reference goes. No other interface is handed out.
template <class Interface>
class ComObject : public Interface {
public:
    ComObject() { g_liveObjects.fetch_add(1); }
    virtual ~ComObject() { g_liveObjects.fetch_sub(1); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID, void** object) override
    {
        if (object)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ULONG(references.fetch_add(1) + 1); }
    ULONG Release() override
    {
        const int left = references.fetch_sub(1) - 1;
        if (left == 0)
            lastReleased();
        return ULONG(left);
    }

protected:
    // The last reference went: by default the object goes with it.
    virtual void lastReleased() { delete this; }

private:
    std::atomic<int> references{1};
};

// Holds one reference to an object, or none.
template <class T>
void hold(T*& slot, T* object)
{
    if (object)
        object->AddRef();
    if (slot)
        slot->Release();
    slot = object;
}

} // namespace D3D9StandIn
