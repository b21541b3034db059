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

    // The first command-line argument that names an existing file, else the
    // first argument (which the window then reports it cannot open); null
    // without arguments.
    const QString& commandLineFile() const { return fileName; }

    static QString logFilePath();

private:
    QTranslator translator;
    QTranslator qtTranslator;
    QString fileName;

    static Logging::Log ms_log;
};

} // namespace Harbend
