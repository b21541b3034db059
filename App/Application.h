#pragma once

// What the host sees of the system: the application interface and the two
// exported entry points. The order of the virtual operations is fixed.

#define HARBEND_EXPORT __attribute__((visibility("default")))

namespace Harbend {

class Application {
public:
    virtual ~Application() {}
    virtual bool initialize() = 0;
    virtual void close() = 0;
    virtual int run() = 0;
};

} // namespace Harbend

extern "C" {
HARBEND_EXPORT Harbend::Application* CreateHarbendPlayerInstance();
HARBEND_EXPORT void DestroyHarbendPlayerInstance(Harbend::Application* application);

typedef Harbend::Application* (*CreateHarbendPlayerInstanceFunction)();
typedef void (*DestroyHarbendPlayerInstanceFunction)(Harbend::Application*);
}
