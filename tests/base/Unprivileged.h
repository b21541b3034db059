#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

// What a user may not read or write means nothing to root, who may do
// anything, and the tests run as root in CI. Put first in a test function:
// as root, the function runs again in a child process of this program as the
// user nobody (and passes when it passes there); otherwise it goes on here.
#define RUN_UNPRIVILEGED()                                                                                             \
    do {                                                                                                               \
        if (::geteuid() == 0) {                                                                                        \
            runCurrentTestAsNobody();                                                                                  \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)

inline void runCurrentTestAsNobody()
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) runs this test as the user nobody");
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Root's folders are not nobody's.
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("HOME"), QDir::tempPath());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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
