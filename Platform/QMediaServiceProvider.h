#pragma once

// Qt 5.15 keeps its media service provider in a private header that Debian
// does not ship. QMediaPlayer takes its service from the provider set with
// setDefaultServiceProvider, so the class is declared here exactly as
// libQt5Multimedia defines it: the same virtual functions in the same order.
//
// The meta-object members are spelled out instead of using the usual macro:
// they are defined in libQt5Multimedia, and this header must not be run
// through moc, which would define them a second time.

#include <QByteArray>
#include <QCamera>
#include <QList>
#include <QMediaServiceProviderHint>
#include <QMultimedia>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtMultimedia/qtmultimediaglobal.h>

QT_BEGIN_NAMESPACE

class QMediaService;

class Q_MULTIMEDIA_EXPORT QMediaServiceProvider : public QObject {
public:
    static const QMetaObject staticMetaObject;
    const QMetaObject* metaObject() const override;
    void* qt_metacast(const char* className) override;
    int qt_metacall(QMetaObject::Call call, int id, void** arguments) override;

    virtual QMediaService* requestService(const QByteArray& type,
                                          const QMediaServiceProviderHint& hint = QMediaServiceProviderHint()) = 0;
    virtual void releaseService(QMediaService* service) = 0;

    virtual QMediaServiceProviderHint::Features supportedFeatures(const QMediaService* service) const;

    virtual QMultimedia::SupportEstimate hasSupport(const QByteArray& serviceType, const QString& mimeType,
                                                    const QStringList& codecs, int flags = 0) const;
    virtual QStringList supportedMimeTypes(const QByteArray& serviceType, int flags = 0) const;

    virtual QByteArray defaultDevice(const QByteArray& serviceType) const;
    virtual QList<QByteArray> devices(const QByteArray& serviceType) const;
    virtual QString deviceDescription(const QByteArray& serviceType, const QByteArray& device);

    virtual QCamera::Position cameraPosition(const QByteArray& device) const;
    virtual int cameraOrientation(const QByteArray& device) const;

    static QMediaServiceProvider* defaultServiceProvider();
    // Null restores Qt's own provider (its plug-ins).
    static void setDefaultServiceProvider(QMediaServiceProvider* provider);
};

QT_END_NAMESPACE
