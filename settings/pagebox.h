#pragma once

#include "websettings.h"

#include <QGroupBox>

class QLabel;
class QLineEdit;
class QSpinBox;

// The settings dialog's group "Веб-страница": the port of the station's live
// page (0 is off), the address to listen on, and, once on, the page's full
// address with its token, as text and as a QR code for a phone.
class PageBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit PageBox(QWidget *parent = nullptr);

    void Show(const WebSettings &settings);
    // The settings as the boxes hold them; a page switched on for the first
    // time gets its token now.
    WebSettings Take() const;
    // "http://<address>:<port>/?token=<token>"; the bind address, else this
    // computer's first address that a phone on the network can reach.
    static QString PageAddress(const WebSettings &settings);

private:
    void Refresh();

    QSpinBox *m_pPort;
    QLineEdit *m_pBind;
    QLabel *m_pAddress;
    QLabel *m_pCode;
    mutable QString m_strToken;
};
