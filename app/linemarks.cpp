#include "linemarks.h"

#include "linestate.h"

#include <QApplication>
#include <QLineEdit>

void ShowLineStatus(QLineEdit &temperature, const LineStatus &status)
{
    QPalette palette = temperature.palette();
    const QColor text = status.IsLive() ? QApplication::palette(&temperature).color(QPalette::Text) : QColor(220, 0, 0);
    if (palette.color(QPalette::Text) != text) {
        palette.setColor(QPalette::Text, text);
        temperature.setPalette(palette);
    }
    temperature.setToolTip(status.Details());
}
