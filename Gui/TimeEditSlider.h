#pragma once

#include <QSlider>

// The window's position slider: knows the playable range and, while the mouse
// hovers over it, shows the recording time under the mouse as its tooltip.
class TimeEditSlider : public QSlider {
    Q_OBJECT
public:
    explicit TimeEditSlider(QWidget* parent = nullptr);

    // The clock text "hh:mm:ss" of a number of milliseconds after midnight (wraps at 24 hours).
    static QString pos2tekst(long ms);

public slots:
    void setMediaStart(qint64 start);
    void setMediaStop(qint64 stop);
    void tesSetEnabled(bool enabled);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    qint64 mediaStart = 0;
    qint64 mediaStop = 0;
};
