#pragma once

#include <QString>

// The station's web page: off while no port is set.
struct WebSettings
{
    int port = 0;   // 0: off, no listening socket
    QString bind;   // the address to listen on; empty: all of this computer's
    QString token;  // in every request's ?token=

    bool IsOn() const { return port > 0; }
    bool operator==(const WebSettings &) const = default;
};

// A new token: 128 random bits from the system's source, in hexadecimal.
QString NewWebToken();
