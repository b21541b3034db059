#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include <unistd.h>

// What a user may not read or write means nothing to root, who may do
// anything, and the tests run as root in CI. Put first in a test function:
// as root, the function runs again in a child process of this program as the
// user nobody (and passes when it passes there); otherwise it goes on here.
#define RUN_UNPRIVILEGED() HARBEND_RUN_AS_NOBODY(QString())

// As RUN_UNPRIVILEGED(), for a test that needs what only root can make: the
// build, with its tools, may lie where nobody cannot reach it. The callable
// after `folder` (an UnprivilegedFolder) is given its path and makes it there
// first, as root before the run as nobody, or here in a run that is not root's.
#define RUN_UNPRIVILEGED_WITH(folder, ...)                                                                             \
    UnprivilegedFolder folder;                                                                                         \
    folder.prepare(__VA_ARGS__);                                                                                       \
    if (QTest::currentTestFailed())                                                                                    \
        return;                                                                                                        \
    HARBEND_RUN_AS_NOBODY(folder.path())

#define HARBEND_RUN_AS_NOBODY(prepared)                                                                                \
    do {                                                                                                               \
        if (::geteuid() == 0) {                                                                                        \
            runCurrentTestAsNobody(prepared);                                                                          \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)

// Tells the run as nobody where root prepared its folder.
inline constexpr char kUnprivilegedFolderVariable[] = "HARBEND_UNPRIVILEGED_FOLDER";

// A folder that the user nobody may enter and read but not write, removed
// with the object; in the run as nobody, the one that root prepared.
class UnprivilegedFolder {
public:
    void prepare(const std::function<void(const QString&)>& fill)
    {
        given = qEnvironmentVariable(kUnprivilegedFolderVariable);
        if (!given.isEmpty()) {
            QVERIFY2(QFileInfo(given).isDir(), qPrintable(given));
            return;
        }
        made.reset(new QTemporaryDir);
        QVERIFY(made->isValid());
        QVERIFY(QFile::setPermissions(made->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                        QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                        QFileDevice::ExeOther));
        fill(made->path());
    }
    QString path() const { return made ? made->path() : given; }
    QString filePath(const QString& name) const { return QDir(path()).filePath(name); }

private:
    std::unique_ptr<QTemporaryDir> made;
    QString given;
};

// prepared: a folder to hand to the run as nobody, or none.
inline void runCurrentTestAsNobody(const QString& prepared)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) runs this test as the user nobody");
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Root's folders are not nobody's.
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("HOME"), QDir::tempPath());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QString::fromLatin1(kUnprivilegedFolderVariable));
    if (!prepared.isEmpty())
        environment.insert(QString::fromLatin1(kUnprivilegedFolderVariable), prepared);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv,
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                 QStringLiteral("--"), QCoreApplication::applicationFilePath(), function});
    QVERIFY2(child.waitForFinished(120000), "the unprivileged run did not finish");
    const QByteArray output = child.readAll();
    // It ran there and passed, not skipped.
    const QRegularExpression passed(QStringLiteral("^PASS   : \\w+::%1\\(\\)$").arg(function),
                                    QRegularExpression::MultilineOption);
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
                 passed.match(QString::fromUtf8(output)).hasMatch(),
             output.constData());
}
