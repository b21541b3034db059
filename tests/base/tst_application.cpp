// The host-facing entry: the application object in process, the shared
// library through dlopen, and the host executable as its own process.

#include "App/Application.h"
#include "App/HarbendPlayer.h"
#include "tests/TestMain.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char kLinePattern[] =
    "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,\\d{3} :: {4}INFO :: \\[Core/Application\\(\\d+\\): HarbendPlayer\\] ";

QTemporaryDir* g_dataHome = nullptr;
QString g_firstFile;
QString g_secondFile;

QStringList logMessages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList messages;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            messages << QString::fromUtf8(line.mid(line.indexOf("] ") + 2));
    return messages;
}

QStringList logLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void closeWindowsSoon()
{
    QTimer::singleShot(300, [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
    });
}

// The messages that a start, a run and a close write, in order.
void verifyStartAndClose(const QString& logPath)
{
    const QStringList messages = logMessages(logPath);
    QVERIFY2(messages.size() >= 6, qPrintable(messages.join(QLatin1Char('\n'))));
    QCOMPARE(messages[0], QStringLiteral("Starting Harbend Player version 2.1.22"));
    QCOMPARE(messages[1], QStringLiteral("Loaded SSE2 optimized module."));
    QCOMPARE(messages[2], QStringLiteral("Checking processor capabilities..."));
    QVERIFY(messages[3].startsWith(QStringLiteral("Found ")));
    QVERIFY(messages[4].startsWith(QStringLiteral("Processor supported instruction sets: MMX, SSE, SSE2")));
    QCOMPARE(messages.last(), QStringLiteral("Closing Harbend Player."));
    const QStringList lines = logLines(logPath);
    const QRegularExpression pattern(QString::fromLatin1(kLinePattern));
    QVERIFY(pattern.match(lines[0]).hasMatch());
    QVERIFY(pattern.match(lines[1]).hasMatch());
    QVERIFY(pattern.match(lines.last()).hasMatch());
    QVERIFY(lines[2].contains(QStringLiteral(":: [Core/Base/Processor(")));
}

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT
private slots:
    void firstExistingFileArgumentIsKept();
    void eachStartEmptiesTheLog();
    void libraryRunsEndToEnd();
    void hostRunsAndEndsCleanly();
    void hostOpensTheNamedRecordingOrNone_data();
    void hostOpensTheNamedRecordingOrNone();
    void hostReportsAMissingLibrary();
};

void ApplicationTest::firstExistingFileArgumentIsKept()
{
    Harbend::HarbendPlayer player;
    QVERIFY(player.commandLineFile().isNull());
    QVERIFY(player.initialize());
    QCOMPARE(player.commandLineFile(), g_firstFile);
    player.close();
}

void ApplicationTest::eachStartEmptiesTheLog()
{
    const QString path = Harbend::HarbendPlayer::logFilePath();
    QVERIFY(path.startsWith(g_dataHome->path()));
    {
        Harbend::HarbendPlayer first;
        first.initialize();
        first.close();
    }
    const int linesOfOneRun = logLines(path).size();
    {
        Harbend::HarbendPlayer second;
        second.initialize();
        second.close();
        QCOMPARE(logLines(path).size(), linesOfOneRun);
    }
    QCOMPARE(logMessages(path).last(), QStringLiteral("Closing Harbend Player."));
    // Closed by the destructor: lines logged now no longer reach it.
    Harbend::Logging::Log ms_log("Late", Harbend::Logging::Log::systemLogger());
    const char kLogSource[] = "tests";
    HARBEND_LOG(Info, "after destruction");
    QCOMPARE(logLines(path).size(), linesOfOneRun);
}

void ApplicationTest::libraryRunsEndToEnd()
{
    const QByteArray libraryPath = HARBEND_BIN_DIR "/libHarbendPlayer.so";
    void* library = ::dlopen(libraryPath.constData(), RTLD_NOW);
    QVERIFY2(library, ::dlerror());
    auto create = reinterpret_cast<CreateHarbendPlayerInstanceFunction>(
        ::dlsym(library, "CreateHarbendPlayerInstance"));
    auto destroy = reinterpret_cast<DestroyHarbendPlayerInstanceFunction>(
        ::dlsym(library, "DestroyHarbendPlayerInstance"));
    QVERIFY(create && destroy);
    // Internal classes stay hidden.
    QVERIFY(!::dlsym(library, "_ZN7Harbend9Processor11ms_instanceE"));

    Harbend::Application* application = create();
    QVERIFY(application);
    QVERIFY(application->initialize());
    closeWindowsSoon();
    QCOMPARE(application->run(), 0);
    application->close();
    destroy(application);
    destroy(nullptr);
    verifyStartAndClose(Harbend::HarbendPlayer::logFilePath());
    // The library stays loaded while the application object lives.
}

void ApplicationTest::hostRunsAndEndsCleanly()
{
    QTemporaryDir dataHome;
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    host.setProcessEnvironment(environment);
    host.start(QStringLiteral(HARBEND_BIN_DIR "/harbend-player"), {g_secondFile});
    QVERIFY(host.waitForStarted(10000));
    const QString logPath = dataHome.path() + QStringLiteral("/Velmora/HarbendPlayer/HarbendPlayer.log");
    QTRY_VERIFY_WITH_TIMEOUT(logMessages(logPath).size() >= 5, 20000);
    host.terminate();
    QVERIFY(host.waitForFinished(20000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    verifyStartAndClose(logPath);
}

void ApplicationTest::hostOpensTheNamedRecordingOrNone_data()
{
    // Without arguments the recording beside the program opens (tst_player_playing).
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("a missing name and a folder") << QStringList{"/nowhere/missing.ogg", "/"};
    QTest::newRow("a folder") << QStringList{"/"};
    // Names that would block an open: refused before they are opened.
    QTest::newRow("a FIFO without a writer") << QStringList{"FIFO"};
    QTest::newRow("a socket") << QStringList{"SOCKET"};
    QTest::newRow("an endless device") << QStringList{"/dev/zero"};
}

void ApplicationTest::hostOpensTheNamedRecordingOrNone()
{
    QFETCH(QStringList, arguments);
    // The host and its library, with a recording beside them.
    QTemporaryDir folder;
    for (const char* name : {"harbend-player", "libHarbendPlayer.so"})
        QVERIFY(QFile::copy(QStringLiteral(HARBEND_BIN_DIR "/") + name, folder.filePath(name)));
    QVERIFY(QFile::copy(g_firstFile, folder.filePath(QStringLiteral("beside.ogg"))));
    for (QString& argument : arguments) {
        if (argument == QLatin1String("FIFO")) {
            argument = folder.filePath(QStringLiteral("fifo.ogg"));
            QCOMPARE(::mkfifo(QFile::encodeName(argument).constData(), 0600), 0);
        } else if (argument == QLatin1String("SOCKET")) {
            argument = folder.filePath(QStringLiteral("socket.ogg"));
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(argument).constData(), sizeof address.sun_path);
            const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(socket >= 0);
            QCOMPARE(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(socket);
        }
    }
    QTemporaryDir dataHome;
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    host.setProcessEnvironment(environment);
    host.start(folder.filePath(QStringLiteral("harbend-player")), arguments);
    QVERIFY(host.waitForStarted(10000));
    // The first name is the only recording it tries: the window's message
    // about it stays open, and the one beside the program is left alone.
    const QString logPath = dataHome.path() + QStringLiteral("/Velmora/HarbendPlayer/HarbendPlayer.log");
    auto opened = [&] {
        return logMessages(logPath).filter(QRegularExpression("^(Failed to open stream|Successfully opened)"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(!opened().isEmpty(), 20000);
    // The window's thread never blocks on the name: a termination is handled
    // at once (the bound only catches a hang, the time is reported).
    QElapsedTimer ending;
    ending.start();
    host.terminate();
    QVERIFY(host.waitForFinished(20000));
    qInfo("ended %lld ms after SIGTERM", ending.elapsed());
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(opened().size(), 1);
    QVERIFY2(opened().first().startsWith(QStringLiteral("Failed to open stream!")), qPrintable(opened().first()));
}

void ApplicationTest::hostReportsAMissingLibrary()
{
    QTemporaryDir lonely;
    const QString copy = lonely.filePath(QStringLiteral("harbend-player"));
    QVERIFY(QFile::copy(QStringLiteral(HARBEND_BIN_DIR "/harbend-player"), copy));
    QProcess host;
    host.start(copy, QStringList());
    QVERIFY(host.waitForFinished(20000));
    QVERIFY(host.exitCode() != 0);
    QVERIFY(host.readAllStandardError().contains("cannot load the player library"));
}

static int runTests(char* argv[])
{
    QTemporaryDir dataHome;
    g_dataHome = &dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    QTemporaryDir files;
    g_firstFile = files.filePath(QStringLiteral("first.ogg"));
    g_secondFile = files.filePath(QStringLiteral("second.ogg"));
    for (const QString& name : {g_firstFile, g_secondFile}) {
        QFile file(name);
        file.open(QIODevice::WriteOnly);
        file.write("OggS");
    }
    // The program, a folder, a name that exists nowhere, then two files.
    const QByteArray folder = QFile::encodeName(files.path());
    const QByteArray first = QFile::encodeName(g_firstFile);
    const QByteArray second = QFile::encodeName(g_secondFile);
    QByteArray program(argv[0]);
    char* arguments[] = {program.data(),
                         const_cast<char*>(folder.constData()),
                         const_cast<char*>("/nowhere/missing.ogg"),
                         const_cast<char*>(first.constData()),
                         const_cast<char*>(second.constData()),
                         nullptr};
    int count = 5;
    QApplication app(count, arguments);
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
    ApplicationTest test;
    char* testArguments[] = {argv[0], nullptr};
    return QTest::qExec(&test, 1, testArguments);
}

int main(int, char* argv[]) { endTestProcess(runTests(argv)); }

#include "tst_application.moc"
