#include "Gui/Settings.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>

namespace {
const QString kUiMotif = QStringLiteral("uiMotif");
const QString kOpenMediaMode = QStringLiteral("openMediaMode");
const QString kLastMediaOpenFile = QStringLiteral("lastMediaOpenFile");
const QString kLastMediaOpenDirectory = QStringLiteral("lastMediaOpenDirectory");
const QString kFontSize = QStringLiteral("fontSize");
const QString kAnnotationJumpMargin = QStringLiteral("annotationJumpMargin");

const int kMinFontSize = 8;
const int kMaxFontSize = 16;
const int kDefaultFontSize = 10;
const int kMaxJumpMargin = 1000;

// 64-bit, so that a stored number beyond the int range is limited rather than cut to its low bits.
int clampFontSize(qint64 size) { return int(std::clamp<qint64>(size, kMinFontSize, kMaxFontSize)); }
int clampJumpMargin(qint64 margin) { return int(std::clamp<qint64>(margin, -kMaxJumpMargin, kMaxJumpMargin)); }
} // namespace

Settings::Settings()
    : QSettings(QSettings::IniFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                QCoreApplication::applicationName())
{
    sync();
}

template <typename Accept>
QString Settings::readRepaired(const QString& key, const QString& fallback, Accept accept)
{
    const QString stored = value(key, fallback).toString();
    if (accept(stored))
        return stored;
    if (contains(key))
        write(key, fallback);
    return fallback;
}

void Settings::write(const QString& key, const QVariant& value)
{
    // Qt keeps written keys and values in a process-wide cache that is torn down
    // after the host has unloaded this library: it gets copies of its own, never
    // texts that point into the library's constant data.
    const QVariant own = value.userType() == QMetaType::QString
                             ? QVariant(QString(value.toString().constData(), value.toString().size()))
                             : value;
    setValue(QString(key.constData(), key.size()), own);
    sync();
}

QString Settings::readUiMotif()
{
    return readRepaired(kUiMotif, QStringLiteral("BRAK"), [](const QString& motif) {
        return motif == QLatin1String("SREBRNY1") || motif == QLatin1String("NOCNY") || motif == QLatin1String("BRAK");
    });
}

void Settings::saveUiMotif(QString uiMotif) { write(kUiMotif, uiMotif); }

QString Settings::readOpenMediaMode()
{
    return readRepaired(kOpenMediaMode, QStringLiteral("LASTFILE"), [](const QString& mode) {
        return mode == QLatin1String("LASTFILE") || mode == QLatin1String("LASTDIR") ||
               mode == QLatin1String("NOMEDIA");
    });
}

void Settings::saveOpenMediaMode(QString openMediaMode) { write(kOpenMediaMode, openMediaMode); }

QString Settings::readLastMediaOpenFile() { return value(kLastMediaOpenFile, QString()).toString(); }

void Settings::saveLastMediaOpenFile(QString lastMediaOpenFile) { write(kLastMediaOpenFile, lastMediaOpenFile); }

QString Settings::readLastMediaOpenDirectory()
{
    return readRepaired(kLastMediaOpenDirectory, QDir::homePath(),
                        [](const QString& directory) { return !directory.isEmpty(); });
}

void Settings::saveLastMediaOpenDirectory(QString lastMediaOpenDirectory)
{
    write(kLastMediaOpenDirectory, lastMediaOpenDirectory);
}

int Settings::readFontSize()
{
    // A text that is not a number converts to 0, which stands for the default.
    const qint64 size = value(kFontSize, QStringLiteral("10")).toLongLong();
    return clampFontSize(size == 0 ? kDefaultFontSize : size);
}

void Settings::saveFontSize(int fontSize) { write(kFontSize, clampFontSize(fontSize)); }

int Settings::readAnnotationJumpMargin() { return clampJumpMargin(value(kAnnotationJumpMargin, 0).toLongLong()); }

void Settings::saveAnnotationJumpMargin(int annotationJumpMargin)
{
    write(kAnnotationJumpMargin, clampJumpMargin(annotationJumpMargin));
}
