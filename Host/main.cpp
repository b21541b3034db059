// The host: creates the Qt application, names the organisation and the
// application, loads the player library from its own folder and drives it.

#include "App/Application.h"
#include "HostSignals.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace {

const char kLibraryName[] = "/libHarbendPlayer.so";

template <class Function>
Function lookUp(void* library, const char* name)
{
    Function function = reinterpret_cast<Function>(::dlsym(library, name));
    if (!function)
        std::fprintf(stderr, "harbend-player: the player library has no function %s: %s\n", name, ::dlerror());
    return function;
}

int runPlayer(void* library)
{
    const auto create = lookUp<CreateHarbendPlayerInstanceFunction>(library, "CreateHarbendPlayerInstance");
    const auto destroy = lookUp<DestroyHarbendPlayerInstanceFunction>(library, "DestroyHarbendPlayerInstance");
    if (!create || !destroy)
        return 2;
    Harbend::Application* application = create();
    if (!application->initialize()) {
        destroy(application);
        return 1;
    }
    const int code = application->run();
    application->close();
    destroy(application);
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    void* library = nullptr;
    int code = 0;
    {
        QApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
        QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
        HostSignals signalHandler;

        const QByteArray path = QFile::encodeName(QCoreApplication::applicationDirPath()) + kLibraryName;
        library = ::dlopen(path.constData(), RTLD_NOW);
        if (!library) {
            std::fprintf(stderr, "harbend-player: cannot load the player library %s: %s\n", path.constData(),
                         ::dlerror());
            return 2;
        }
        code = runPlayer(library);
    }
    // Only once the application object is gone.
    ::dlclose(library);
    // Without the other libraries' exit-time destructors: Qt's PulseAudio
    // plugin releases its server connection in one of them without holding
    // the lock of its sound loop, whose thread still runs, and libpulse may
    // abort the process then. Nothing of the player is left to clean up.
    std::fflush(nullptr);
    std::_Exit(code);
}
