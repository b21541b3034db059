#pragma once

#include "App/Application.h"
#include "Core/Base/Log.h"

#include <QString>
#include <QTranslator>

namespace Harbend {

class HarbendPlayer : public Application {
public:
    // Loads the translation, creates the data folder and opens the log file.
    HarbendPlayer();
    ~HarbendPlayer() override;

    bool initialize() override;
    void close() override;
    int run() override;

    // The recording named on the command line; null while none was found.
    const QString& commandLineFile() const { return fileName; }

    static QString logFilePath();

private:
    QTranslator translator;
    QString fileName;

    static Logging::Log ms_log;
};

} // namespace Harbend
