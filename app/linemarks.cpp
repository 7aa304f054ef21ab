#include "linemarks.h"

#include "linestate.h"

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QToolTip>

void ShowLineStatus(QLineEdit &temperature, const LineStatus &status)
{
    QPalette palette = temperature.palette();
    const QColor text = status.IsLive() ? QApplication::palette(&temperature).color(QPalette::Text) : QColor(220, 0, 0);
    if (palette.color(QPalette::Text) != text) {
        palette.setColor(QPalette::Text, text);
        temperature.setPalette(palette);
    }
    const QString details = status.Details();
    const QString shown = temperature.toolTip();
    if (details == shown)
        return;
    temperature.setToolTip(details);
    // A tooltip open on the box keeps its text until the mouse moves: an
    // operator reading "нет связи с прибором" there must see it go.
    if (QToolTip::isVisible() && QToolTip::text() == shown)
        QToolTip::showText(QCursor::pos(), details, &temperature);
}
