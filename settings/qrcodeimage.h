#pragma once

#include <QImage>
#include <QString>

// A QR code of a text (libqrencode), black on white with the quiet zone of
// four modules, each module `scale` pixels; a null image when it cannot be made.
QImage QrCodeImage(const QString &text, int scale);
