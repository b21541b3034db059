#include "Core/Base/GainFromVolume.h"
#include "Core/Decoder/OggReader.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/AudioEndpointControl.h"
#include "Core/Multimedia/MediaServiceProvider.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "Core/Multimedia/PlayerService.h"
#include "Core/Multimedia/VideoRendererControl.h"

#include "tests/TestMain.h"
#include "tests/streams/Recording.h"

#include <QAbstractVideoSurface>
#include <QAudioOutput>
#include <QAudioOutputSelectorControl>
#include <QAudioRoleControl>
#include <QCustomAudioRoleControl>
#include <QMediaAvailabilityControl>
#include <QMediaNetworkAccessControl>
#include <QMediaPlayer>
#include <QMediaPlayerControl>
#include <QMediaServiceProviderPlugin>
#include <QMetaDataReaderControl>
#include <QTemporaryDir>
#include <QVideoRendererControl>
#include <QtTest>

#include <memory>

using namespace Harbend;

namespace {

class NullSurface : public QAbstractVideoSurface {
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_YUV420P};
    }
    bool present(const QVideoFrame&) override { return true; }
};

// Builds a media player over the engine's provider and puts Qt's own back.
std::unique_ptr<QMediaPlayer> playerOverOurProvider()
{
    QMediaServiceProvider::setDefaultServiceProvider(&g_serviceProvider);
    std::unique_ptr<QMediaPlayer> player(new QMediaPlayer);
    QMediaServiceProvider::setDefaultServiceProvider(nullptr);
    return player;
}

} // namespace

class ServiceTest : public QObject {
    Q_OBJECT
private slots:
    void mediaPlayerRunsOnOurService();
    void metadataReachesTheMediaPlayer();
    void recordingCommentsReachTheMediaPlayer();
    void rendererIsLentOnce();
    void providerAnswersOnlyThePlayerService();
    void controlsByIdentifier();
    void channelsStartFullAndOn();
    void channelVolumesClampAndSignalChanges();
    void channelSwitchesSignalChanges();
    void channelsBeyondTwelveAreRefused();
    void endpointsOfTheDefaultSystem();
    void audioOutputOnTheActiveDevice();
};

void ServiceTest::mediaPlayerRunsOnOurService()
{
    std::unique_ptr<QMediaPlayer> player = playerOverOurProvider();
    auto* service = qobject_cast<PlayerService*>(player->service());
    QVERIFY(service);
    QCOMPARE(player->error(), QMediaPlayer::NoError);
    // Qt's own provider is back for everyone else.
    QVERIFY(QMediaServiceProvider::defaultServiceProvider() != &g_serviceProvider);

    QPointer<PlayerService> watched(service);
    player.reset();
    QVERIFY(watched.isNull()); // released and deleted with the player
}

void ServiceTest::metadataReachesTheMediaPlayer()
{
    std::unique_ptr<QMediaPlayer> player = playerOverOurProvider();
    auto* service = qobject_cast<PlayerService*>(player->service());
    QVERIFY(service);
    QSignalSpy available(player.get(), SIGNAL(metaDataAvailableChanged(bool)));
    QSignalSpy changed(player.get(), SIGNAL(metaDataChanged()));

    QMap<QString, QVariant> comments;
    comments.insert(QStringLiteral("TITLE"), QStringLiteral("Rozprawa 17"));
    comments.insert(QStringLiteral("COURTROOM"), QStringLiteral("Sala 4"));
    service->metaDataControl->setMetaData(comments);

    QCOMPARE(available.count(), 1);
    QCOMPARE(available.at(0).at(0).toBool(), true);
    QCOMPARE(changed.count(), 1);
    QVERIFY(player->isMetaDataAvailable());
    QCOMPARE(player->metaData(QStringLiteral("TITLE")).toString(), QStringLiteral("Rozprawa 17"));
    QCOMPARE(player->availableMetaData(), (QStringList{QStringLiteral("COURTROOM"), QStringLiteral("TITLE")}));
    // Keys are the comments' own: Qt's standard key is not answered.
    QVERIFY(!player->metaData(QStringLiteral("Title")).isValid());

    // Every call signals, changed or not.
    service->metaDataControl->setMetaData(comments);
    QCOMPARE(changed.count(), 2);
    service->metaDataControl->clearMetaData();
    QCOMPARE(available.last().at(0).toBool(), false);
    QCOMPARE(changed.count(), 3);
    QVERIFY(!player->isMetaDataAvailable());
    service->metaDataControl->setMetaData({});
    QCOMPARE(available.last().at(0).toBool(), false);
    QCOMPARE(changed.count(), 4);
}

void ServiceTest::recordingCommentsReachTheMediaPlayer()
{
    QTemporaryDir folder;
    QString error;
    const QString title = QStringLiteral("Rozprawa — świadek Łukasz Żółć");
    const QString path = Recording::make(
        folder.path(), "comments.ogg",
        {"--stream", "speex:serial=1", "--duration", "1", "--comment", "TITLE=" + title, "--comment", "SALA=4"},
        &error);
    QVERIFY2(!path.isEmpty(), qPrintable(error));
    std::unique_ptr<QMediaPlayer> player = playerOverOurProvider();
    auto* service = qobject_cast<PlayerService*>(player->service());
    QVERIFY(service);
    QSignalSpy changed(player.get(), SIGNAL(metaDataChanged()));
    // The reader publishes the comments of the audio stream it plays.
    QFile file(path);
    OggReader reader(service->metaDataControl, nullptr);
    QVERIFY(reader.open(&file));
    QVERIFY(reader.read());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(player->metaData(QStringLiteral("TITLE")).toString(), title);
    QCOMPARE(player->metaData(QStringLiteral("SALA")).toString(), QStringLiteral("4"));
    reader.close();
    QVERIFY(!player->isMetaDataAvailable());
}

void ServiceTest::rendererIsLentOnce()
{
    std::unique_ptr<QMediaPlayer> player = playerOverOurProvider();
    auto* service = qobject_cast<PlayerService*>(player->service());
    QVERIFY(service);
    NullSurface surface;
    player->setVideoOutput(&surface);
    QVERIFY(service->videoRendererControl);
    QCOMPARE(service->videoRendererControl->surface(), &surface);
    QVERIFY(!surface.isActive()); // stored, not started

    // Lent out already: a second borrower gets nothing.
    QVERIFY(!service->requestControl(QVideoRendererControl_iid));

    player->setVideoOutput(static_cast<QAbstractVideoSurface*>(nullptr));
    QVERIFY(!service->videoRendererControl);

    QMediaControl* fresh = service->requestControl(QVideoRendererControl_iid);
    QVERIFY(fresh);
    QCOMPARE(qobject_cast<QVideoRendererControl*>(fresh)->surface(), static_cast<QAbstractVideoSurface*>(nullptr));
    service->releaseControl(service->audioChannelControl); // not lent: ignored
    service->releaseControl(nullptr);
    QCOMPARE(service->videoRendererControl, fresh);
    service->releaseControl(fresh);
    QVERIFY(!service->videoRendererControl);
}

void ServiceTest::providerAnswersOnlyThePlayerService()
{
    MediaServiceProvider& provider = g_serviceProvider;
    QMediaService* first = provider.requestService(Q_MEDIASERVICE_MEDIAPLAYER, QMediaServiceProviderHint());
    QMediaService* second = provider.requestService(Q_MEDIASERVICE_MEDIAPLAYER, QMediaServiceProviderHint());
    QVERIFY(qobject_cast<PlayerService*>(first));
    QVERIFY(qobject_cast<PlayerService*>(second));
    QVERIFY(first != second);
    QVERIFY(first->requestControl(PlayerService::AudioChannelControlId) !=
            second->requestControl(PlayerService::AudioChannelControlId));
    QVERIFY(!first->parent());
    provider.releaseService(first);
    provider.releaseService(second);
    provider.releaseService(nullptr);

    QVERIFY(!provider.requestService(Q_MEDIASERVICE_CAMERA, QMediaServiceProviderHint()));
    QCOMPARE(provider.hasSupport(Q_MEDIASERVICE_MEDIAPLAYER, QStringLiteral("audio/ogg"), {}, 0),
             QMultimedia::ProbablySupported);
    QCOMPARE(provider.hasSupport(Q_MEDIASERVICE_AUDIODECODER, QStringLiteral("audio/ogg"), {}, 0),
             QMultimedia::NotSupported);
    QVERIFY(provider.supportedMimeTypes(Q_MEDIASERVICE_MEDIAPLAYER, 0).isEmpty());
    QVERIFY(provider.devices(Q_MEDIASERVICE_MEDIAPLAYER).isEmpty());
    QVERIFY(provider.deviceDescription(Q_MEDIASERVICE_MEDIAPLAYER, "x").isNull());
    // The functions we leave to Qt's base class still answer through the shared vtable.
    QMediaServiceProvider& base = provider;
    QCOMPARE(base.cameraOrientation("x"), 0);
    QVERIFY(base.defaultDevice(Q_MEDIASERVICE_MEDIAPLAYER).isEmpty());
}

void ServiceTest::controlsByIdentifier()
{
    PlayerService service(nullptr);
    QCOMPARE(service.requestControl(QAudioOutputSelectorControl_iid),
             static_cast<QMediaControl*>(service.audioEndpointControl));
    QCOMPARE(service.requestControl(PlayerService::AudioChannelControlId),
             static_cast<QMediaControl*>(service.audioChannelControl));
    QCOMPARE(service.requestControl(QMetaDataReaderControl_iid), static_cast<QMediaControl*>(service.metaDataControl));
    // The same object every time.
    QCOMPARE(service.requestControl(PlayerService::AudioChannelControlId),
             static_cast<QMediaControl*>(service.audioChannelControl));
    QCOMPARE(service.requestControl(QMediaPlayerControl_iid), service.playerControl);
    // Typed requests, as Qt makes them, cast to Qt's control classes.
    QMediaService& base = service;
    QVERIFY(base.requestControl<QAudioOutputSelectorControl*>());
    QVERIFY(base.requestControl<QMetaDataReaderControl*>());
    // What Qt 5.15 also asks for, and names of other systems.
    QVERIFY(!service.requestControl(QMediaNetworkAccessControl_iid));
    QVERIFY(!service.requestControl(QAudioRoleControl_iid));
    QVERIFY(!service.requestControl(QCustomAudioRoleControl_iid));
    QVERIFY(!service.requestControl(QMediaAvailabilityControl_iid));
    QVERIFY(!service.requestControl("com.nokia.Qt.QAudioEndpointSelector/1.0"));
    QVERIFY(!service.requestControl(""));
    QVERIFY(!service.requestControl(nullptr));
}

void ServiceTest::channelsStartFullAndOn()
{
    AudioChannelControl control(nullptr);
    for (ui32 channel = 0; channel < AudioChannelControl::ChannelCount; ++channel) {
        QCOMPARE(control.volume[channel].load(), 100);
        QCOMPARE(control.gain[channel].load(), 1.0f);
        QVERIFY(control.enabled[channel].load());
    }
    QVERIFY(control.volume[0].is_lock_free() && control.gain[0].is_lock_free() && control.enabled[0].is_lock_free());
}

void ServiceTest::channelVolumesClampAndSignalChanges()
{
    Recording::LogCapture log;
    AudioChannelControl control(nullptr);
    QSignalSpy spy(&control, SIGNAL(channelVolumeChanged(ui32, i32)));
    QVERIFY(spy.isValid());

    control.setChannelVolume(3, 150); // 100 already
    QCOMPARE(spy.count(), 0);

    control.setChannelVolume(3, -7);
    QCOMPARE(control.volume[3].load(), 0);
    QCOMPARE(control.gain[3].load(), 0.0f);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<ui32>(), ui32(3));
    QCOMPARE(spy.at(0).at(1).value<i32>(), i32(0));
    QVERIFY(log.contains("Setting channel #3 volume to 0.00%."));

    control.setChannelVolume(3, 50);
    QCOMPARE(control.volume[3].load(), 50);
    QCOMPARE(control.gain[3].load(), gainFromVolume(50));
    QVERIFY(control.gain[3].load() > 0.0f && control.gain[3].load() < 1.0f);
    control.setChannelVolume(3, 150);
    QCOMPARE(control.volume[3].load(), 100);
    QCOMPARE(control.gain[3].load(), 1.0f);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.last().at(1).value<i32>(), i32(100));
    QVERIFY(log.contains("Setting channel #3 volume to 100.00%."));
    // The others are untouched.
    QCOMPARE(control.volume[2].load(), 100);
    QCOMPARE(control.volume[4].load(), 100);
}

void ServiceTest::channelSwitchesSignalChanges()
{
    Recording::LogCapture log;
    AudioChannelControl control(nullptr);
    QSignalSpy spy(&control, SIGNAL(channelEnabledChanged(ui32, bool)));
    control.setChannelEnabled(0, true);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!log.contains("channel #0"));
    control.setChannelEnabled(12, false);
    QVERIFY(!control.enabled[12].load());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<ui32>(), ui32(12));
    QCOMPARE(spy.at(0).at(1).toBool(), false);
    QVERIFY(log.contains("Disabling channel #12."));
    control.setChannelEnabled(12, false);
    QCOMPARE(spy.count(), 1);
    control.setChannelEnabled(12, true);
    QCOMPARE(spy.count(), 2);
    QVERIFY(log.contains("Enabling channel #12."));
}

void ServiceTest::channelsBeyondTwelveAreRefused()
{
    Recording::LogCapture log;
    AudioChannelControl control(nullptr);
    QSignalSpy volumes(&control, SIGNAL(channelVolumeChanged(ui32, i32)));
    QSignalSpy switches(&control, SIGNAL(channelEnabledChanged(ui32, bool)));
    control.setChannelVolume(13, 50);
    control.setChannelEnabled(13, false);
    control.setChannelVolume(0xffffffffu, 50);
    QCOMPARE(volumes.count() + switches.count(), 0);
    QVERIFY(log.contains("WARNING"));
    QVERIFY(
        log.contains("Trying to set the volume for channel #13, which is greater than supported number of channels."));
    QVERIFY(log.contains("Trying to switch channel #13, which is greater than supported number of channels."));
    for (ui32 channel = 0; channel < AudioChannelControl::ChannelCount; ++channel)
        QVERIFY(control.volume[channel].load() == 100 && control.enabled[channel].load());
}

void ServiceTest::endpointsOfTheDefaultSystem()
{
    AudioEndpointControl control(nullptr);
    const QAudioDeviceInfo defaultDevice = QAudioDeviceInfo::defaultOutputDevice();
    if (defaultDevice.isNull())
        QSKIP("No audio output device (run under tools/with-services.sh)");
    QStringList outputs = control.availableOutputs();
    QVERIFY(!outputs.isEmpty());
    QCOMPARE(control.defaultOutput(), defaultDevice.deviceName());
    QCOMPARE(control.activeOutput(), control.defaultOutput());
    QVERIFY(outputs.contains(control.defaultOutput()));
    QStringList sorted = outputs;
    sorted.sort();
    QCOMPARE(outputs, sorted);
    QCOMPARE(outputs.removeDuplicates(), 0);
    // Only the default device's audio system.
    int sameRealm = 0;
    for (const QAudioDeviceInfo& info : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput))
        sameRealm += info.realm() == defaultDevice.realm() && outputs.contains(info.deviceName());
    QVERIFY(sameRealm >= outputs.size());
    QCOMPARE(control.outputDescription(QStringLiteral("any name")), QStringLiteral("any name"));

    QSignalSpy spy(&control, SIGNAL(activeOutputChanged(QString)));
    control.setActiveOutput(QStringLiteral("no such device"));
    QCOMPARE(control.activeOutput(), control.defaultOutput());
    control.setActiveOutput(outputs.last());
    QCOMPARE(control.activeOutput(), outputs.last());
    QCOMPARE(spy.count(), 0);
}

void ServiceTest::audioOutputOnTheActiveDevice()
{
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("No audio output device (run under tools/with-services.sh)");
    Recording::LogCapture log;
    AudioEndpointControl control(nullptr);
    QAudioOutput* output = control.createAudioOutput(Harbend::OggStream::pcmFormat(44100));
    QVERIFY(output);
    QCOMPARE(output->parent(), &control);
    QCOMPARE(output->format(), Harbend::OggStream::pcmFormat(44100));
    QVERIFY(log.contains("Using audio device '" + control.activeOutput() + "'."));

    QAudioFormat halfFloat = Harbend::OggStream::pcmFormat(44100); // no device plays 16-bit floats
    halfFloat.setSampleType(QAudioFormat::Float);
    QVERIFY(!control.createAudioOutput(halfFloat));
    QVERIFY(log.contains("does not support the required format!"));
    QVERIFY(log.contains("FATAL"));
}

HARBEND_TEST_MAIN(ServiceTest)
#include "tst_service.moc"
