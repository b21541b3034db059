#include "Core/Multimedia/AudioEndpointControl.h"

#include <QAudioOutput>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/AudioEndpointControl";
} // namespace

Logging::Log AudioEndpointControl::ms_log("AudioEndpointControl", Logging::Log::systemLogger());

AudioEndpointControl::AudioEndpointControl(QObject* parent) : QAudioOutputSelectorControl(parent)
{
    const QAudioDeviceInfo defaultInfo = QAudioDeviceInfo::defaultOutputDevice();
    defaultDevice = defaultInfo.deviceName();
    // Qt lists every audio system's devices (PulseAudio and ALSA with clashing
    // names); only those of the default device's system are offered.
    for (const QAudioDeviceInfo& info : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput)) {
        if (info.realm() == defaultInfo.realm())
            devices.insert(info.deviceName(), info);
    }
    setActiveOutput(defaultDevice);
}

QList<QString> AudioEndpointControl::availableOutputs() const { return devices.keys(); }

QString AudioEndpointControl::outputDescription(const QString& name) const { return name; }

QString AudioEndpointControl::defaultOutput() const { return defaultDevice; }

QString AudioEndpointControl::activeOutput() const { return activeDevice; }

void AudioEndpointControl::setActiveOutput(const QString& name)
{
    if (name == activeDevice)
        return;
    if (devices.contains(name))
        activeDevice = name;
}

QAudioOutput* AudioEndpointControl::createAudioOutput(const QAudioFormat& format)
{
    if (devices.isEmpty()) {
        HARBEND_LOG(Fatal, "No audio device found!");
        return nullptr;
    }
    const QByteArray name = activeDevice.toLocal8Bit();
    const auto found = devices.constFind(activeDevice);
    if (found == devices.constEnd()) {
        HARBEND_LOG(Fatal, "Failed to find required requested audio output '%s'!", name.constData());
        return nullptr;
    }
    if (!found->isFormatSupported(format)) {
        HARBEND_LOG(Fatal, "Selected audio device '%s' does not support the required format!", name.constData());
        return nullptr;
    }
    HARBEND_LOG(Info, "Using audio device '%s'.", name.constData());
    return new QAudioOutput(*found, format, this);
}

} // namespace Harbend
