#pragma once

#include <QDialog>

namespace Ui {
class DInfo;
}

// The about dialog: the application's icon, name, version, Qt versions and
// organisation, and the licences of the libraries in use.
class DInfo : public QDialog {
    Q_OBJECT
public:
    explicit DInfo(QWidget* parent = nullptr);
    ~DInfo() override;

    void setGuiFont(int pointSize);

private:
    Ui::DInfo* ui;
};
