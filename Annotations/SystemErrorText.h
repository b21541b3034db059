#pragma once

#include <QString>

class QFileDevice;

// Why a file operation failed, in Polish under a Polish locale: Qt and the C
// library describe system errors in English unless the system has the
// locale's messages; other locales keep the system's own description.
class SystemErrorText {
public:
    // The description of an errno value.
    static QString of(int error);
    // The file's last error as Qt describes it.
    static QString of(const QFileDevice& file);
    // A description as Qt gives it; a text that describes no system error
    // comes back as it is.
    static QString localised(const QString& description);
};
