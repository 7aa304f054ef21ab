#include "groupframe.h"

#include <QPainter>

GroupFrame::GroupFrame(const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_strTitle(title)
{
    setAttribute(Qt::WA_TransparentForMouseEvents); // the controls over it take the clicks
}

int GroupFrame::TopEdge() const
{
    return fontMetrics().height() / 2;
}

void GroupFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int top = TopEdge();
    const int right = width() - 2;
    const int bottom = height() - 2;
    // Etched: a shadow line with a light line beside it.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(0, top, right, bottom - top);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(1, top + 1, right - 1, top + 1);
    painter.drawLine(1, top + 1, 1, bottom - 1);
    painter.drawLine(0, bottom + 1, right + 1, bottom + 1);
    painter.drawLine(right + 1, top, right + 1, bottom + 1);

    if (m_strTitle.isEmpty())
        return;
    // The title covers the frame behind it, a little in from the left edge.
    const QFontMetrics metrics = fontMetrics();
    const int inset = metrics.averageCharWidth();
    const QRect title(inset, 0, metrics.horizontalAdvance(m_strTitle) + 4, metrics.height());
    painter.fillRect(title, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(title, Qt::AlignCenter, m_strTitle);
}
