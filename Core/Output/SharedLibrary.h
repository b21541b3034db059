#pragma once

#include <dlfcn.h>

namespace Harbend {

// A system library opened when its owner is built and closed when it goes;
// the program runs on where the library is missing (the handle stays null).
class SharedLibrary {
public:
    explicit SharedLibrary(const char* name) : handle(dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}
    ~SharedLibrary()
    {
        if (handle)
            dlclose(handle);
    }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    void* symbol(const char* name) const { return handle ? dlsym(handle, name) : nullptr; }

    void* const handle;
};

} // namespace Harbend
