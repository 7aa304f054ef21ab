#pragma once

#include "serialdevices.h"

#include <QComboBox>

#include <functional>

// The device that a port stands for, where there are no COM ports: an
// editable drop-down of the serial devices the system lists (looked for again
// each time it opens), each with what it is as its tooltip; any path can be
// typed too.
class DeviceBox : public QComboBox
{
    Q_OBJECT

public:
    using Lister = std::function<QList<SerialDeviceChoice>()>;

    explicit DeviceBox(QWidget *parent, Lister lister = [] { return ListSerialDevices(); });

    void SetDevice(const QString &path);
    // The path chosen or typed, without surrounding blanks.
    QString Device() const { return currentText().trimmed(); }

    // Where the choices come from (the system's list unless a test says otherwise).
    void SetLister(Lister lister) { m_lister = std::move(lister); }

    void showPopup() override;

private:
    void Rescan();

    Lister m_lister;
};
