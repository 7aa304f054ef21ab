#include "appicon.h"

QIcon AppIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/icon128_16.xpm"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/icon128_32.xpm"), QSize(32, 32));
    return icon;
}
