#pragma once

#include <QWidget>

// A group box as dialog templates draw it: an etched frame filling the
// template's rectangle, its top edge through the middle of the title, which
// sits on the frame at the top left. It only frames: the controls inside are
// the dialog's own, laid over it.
class GroupFrame : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString title READ Title)

public:
    explicit GroupFrame(const QString &title, QWidget *parent = nullptr);

    QString Title() const { return m_strTitle; }
    // The row of the frame's top edge, in the frame's own coordinates.
    int TopEdge() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_strTitle;
};
