#pragma once

#include <QSettings>
#include <QString>

// The player window's per-user preferences, in an INI file under the host's
// organisation and application names. Reads fall back to defaults (repairing
// the stored value where a key has a fixed set of values); saves write through.
class Settings : public QSettings {
public:
    Settings();

    QString readUiMotif();
    void saveUiMotif(QString uiMotif);
    QString readOpenMediaMode();
    void saveOpenMediaMode(QString openMediaMode);
    QString readLastMediaOpenFile();
    void saveLastMediaOpenFile(QString lastMediaOpenFile);
    QString readLastMediaOpenDirectory();
    void saveLastMediaOpenDirectory(QString lastMediaOpenDirectory);
    int readFontSize();
    void saveFontSize(int fontSize);
    int readAnnotationJumpMargin();
    void saveAnnotationJumpMargin(int annotationJumpMargin);

private:
    // The stored text if accepted, else the fallback, written back when a stored value was replaced.
    template <typename Accept>
    QString readRepaired(const QString& key, const QString& fallback, Accept accept);
    void write(const QString& key, const QVariant& value);
};
