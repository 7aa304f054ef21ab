#include "qrcodeimage.h"

#include <qrencode.h>

#include <memory>

QImage QrCodeImage(const QString &text, int scale)
{
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(bytes.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return {};
    constexpr int kQuiet = 4;
    const int side = code->width + 2 * kQuiet;
    QImage image(side, side, QImage::Format_Mono);
    image.fill(1); // white
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                image.setPixel(x + kQuiet, y + kQuiet, 0);
    return image.scaled(side * scale, side * scale);
}
