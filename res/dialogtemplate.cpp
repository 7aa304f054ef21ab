#include "dialogtemplate.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const char kIdProperty[] = "templateId";

QWidget *CreateControl(QWidget *dialog, const ControlTemplate &control)
{
    switch (control.kind) {
    case ControlTemplate::Kind::PushButton:
    case ControlTemplate::Kind::DefaultPushButton: {
        auto *button = new QPushButton(control.text, dialog);
        button->setDefault(control.kind == ControlTemplate::Kind::DefaultPushButton);
        button->setAutoDefault(false);
        if (auto *modal = qobject_cast<QDialog *>(dialog)) {
            if (control.id == 1)
                QObject::connect(button, &QPushButton::clicked, modal, &QDialog::accept);
            else if (control.id == 2)
                QObject::connect(button, &QPushButton::clicked, modal, &QDialog::reject);
        }
        return button;
    }
    case ControlTemplate::Kind::Label: {
        auto *label = new QLabel(control.text, dialog);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlTemplate::Kind::LineEdit:
        return new QLineEdit(control.text, dialog);
    case ControlTemplate::Kind::MultiLineEdit:
        return new QPlainTextEdit(control.text, dialog);
    case ControlTemplate::Kind::GroupBox:
        return new QGroupBox(control.text, dialog);
    }
    return nullptr;
}

} // namespace

void BuildFromTemplate(QWidget *dialog, const DialogTemplate &dialogTemplate)
{
    const QFontMetrics metrics(dialog->font());
    const int cx = metrics.averageCharWidth();
    const int cy = metrics.height();
    const auto toPixels = [cx, cy](const QRect &units) {
        return QRect(units.x() * cx / 4, units.y() * cy / 8, units.width() * cx / 4, units.height() * cy / 8);
    };

    dialog->setWindowTitle(dialogTemplate.caption);
    dialog->setFixedSize(toPixels(QRect(QPoint(0, 0), dialogTemplate.size)).size());
    QWidget *previous = nullptr;
    for (const ControlTemplate &control : dialogTemplate.controls) {
        QWidget *widget = CreateControl(dialog, control);
        widget->setGeometry(toPixels(control.rect));
        widget->setEnabled(!control.disabled);
        if (control.id >= 0) {
            widget->setProperty(kIdProperty, control.id);
            widget->setObjectName(QStringLiteral("control%1").arg(control.id));
        }
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous)
                QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
    }
}

QWidget *TemplateControl(const QWidget *dialog, int id)
{
    return dialog->findChild<QWidget *>(QStringLiteral("control%1").arg(id));
}
