#pragma once

#include "Core/Base/Log.h"

#include <QAudioDeviceInfo>
#include <QAudioOutputSelectorControl>
#include <QMap>

class QAudioFormat;
class QAudioOutput;

namespace Harbend {

// Chooses the audio output device and creates the playback's audio output on it.
class AudioEndpointControl : public QAudioOutputSelectorControl {
    Q_OBJECT
public:
    explicit AudioEndpointControl(QObject* parent);

    QList<QString> availableOutputs() const override;
    QString outputDescription(const QString& name) const override;
    QString defaultOutput() const override;
    QString activeOutput() const override;
    void setActiveOutput(const QString& name) override;

    // Null (with a FATAL line) when no device or no device for the format;
    // the output is a child of this control.
    QAudioOutput* createAudioOutput(const QAudioFormat& format);

private:
    static Logging::Log ms_log;

    QString defaultDevice;
    QString activeDevice;
    QMap<QString, QAudioDeviceInfo> devices;
};

} // namespace Harbend
