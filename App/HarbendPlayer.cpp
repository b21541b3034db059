#include "App/HarbendPlayer.h"

#include "Core/Base/Logger.h"
#include "Core/Base/Processor.h"
#include "Gui/WPlayer.h"
#include "HarbendVersion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>

#include <memory>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Application";

Logging::SystemLogger::Writer& logWriter() { return Logging::SystemLogger::get()->writer(); }
} // namespace

Logging::Log HarbendPlayer::ms_log("HarbendPlayer", Logging::Log::systemLogger());

QString HarbendPlayer::logFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/HarbendPlayer.log");
}

HarbendPlayer::HarbendPlayer()
{
    // Only a Polish translation is embedded; any other locale keeps the source texts.
    const QString locale = QLocale::system().name();
    if (translator.load(QStringLiteral(":/Language/") + locale)) {
        QCoreApplication::installTranslator(&translator);
        // Qt's own dialogs and messages (files, printing, the XML parser) in the same language.
        if (qtTranslator.load(QStringLiteral("qt_") + locale, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTranslator);
    }
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    logWriter().openFile(QFile::encodeName(logFilePath()).constData());
}

HarbendPlayer::~HarbendPlayer()
{
    logWriter().close();
    QCoreApplication::removeTranslator(&qtTranslator);
    QCoreApplication::removeTranslator(&translator);
}

bool HarbendPlayer::initialize()
{
    HARBEND_LOG(Info, "Starting Harbend Player version %s", Version);
    HARBEND_LOG(Info, "Loaded SSE2 optimized module.");
    Processor::initialize();

    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    for (const QString& argument : arguments) {
        const QFileInfo info(argument);
        if (info.exists() && info.isFile()) {
            fileName = argument;
            break;
        }
    }
    // A recording was named but none found: the window says that it cannot
    // open the first name, rather than opening another recording in its place.
    if (fileName.isNull() && !arguments.isEmpty())
        fileName = arguments.first();
    return true;
}

int HarbendPlayer::run()
{
    std::unique_ptr<WPlayer> window(new WPlayer);
    window->setWindowIcon(QIcon(QStringLiteral(":/icons/Harbend-Player.png")));
    if (!fileName.isNull())
        window->openMedia(fileName);
    else
        window->openDefaultFile();
    window->showMaximized();
    const int code = QCoreApplication::exec();
    // Stops the playback and releases the media service.
    window.reset();
    return code;
}

void HarbendPlayer::close() { HARBEND_LOG(Info, "Closing Harbend Player."); }

} // namespace Harbend
