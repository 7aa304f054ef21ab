#include "dialogtemplate.h"

#include "groupframe.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const char kIdProperty[] = "templateId";

// An entry of a list box. A sorted list box orders its entries as the
// system's list boxes do: regardless of case.
class ListBoxEntry : public QListWidgetItem
{
public:
    using QListWidgetItem::QListWidgetItem;

    bool operator<(const QListWidgetItem &other) const override
    {
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

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
        label->setWordWrap(control.rect.height() > 9); // one-line texts (a path) are cut, not wrapped
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlTemplate::Kind::Icon: {
        auto *icon = new QLabel(dialog);
        icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
        return icon;
    }
    case ControlTemplate::Kind::LineEdit: {
        auto *edit = new QLineEdit(control.text, dialog);
        if (control.flags & ControlTemplate::ReadOnly) {
            // A box that only shows is greyed, so nobody takes it for one to type into.
            edit->setReadOnly(true);
            QPalette greyed = edit->palette();
            greyed.setColor(QPalette::Base, greyed.color(QPalette::Window));
            edit->setPalette(greyed);
        }
        if (control.flags & ControlTemplate::DigitsOnly)
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        return edit;
    }
    case ControlTemplate::Kind::MultiLineEdit: {
        auto *edit = new QPlainTextEdit(control.text, dialog);
        edit->setTabChangesFocus(true);
        return edit;
    }
    case ControlTemplate::Kind::GroupBox:
        return new GroupFrame(control.text, dialog);
    case ControlTemplate::Kind::RadioButton:
        return new QRadioButton(control.text, dialog);
    case ControlTemplate::Kind::CheckBox:
        return new QCheckBox(control.text, dialog);
    case ControlTemplate::Kind::ComboBox: {
        auto *combo = new QComboBox(dialog);
        combo->setEditable(control.flags & ControlTemplate::Editable);
        QStringList items = control.items;
        if (control.flags & ControlTemplate::Sorted)
            items.sort();
        combo->addItems(items);
        if (combo->isEditable())
            combo->setInsertPolicy(QComboBox::NoInsert);
        return combo;
    }
    case ControlTemplate::Kind::ListBox: {
        auto *list = new QListWidget(dialog);
        list->setSortingEnabled(control.flags & ControlTemplate::Sorted);
        return list;
    }
    }
    return nullptr;
}

} // namespace

QRect DialogUnitsToPixels(const QWidget *widget, const QRect &units)
{
    const QFontMetrics metrics(widget->font());
    // The average width of the Latin letters, rounded up, as the dialog base
    // unit is reckoned on Windows.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int cx = (metrics.horizontalAdvance(letters) + 51) / 52;
    const int cy = metrics.height();
    return QRect(units.x() * cx / 4, units.y() * cy / 8, units.width() * cx / 4, units.height() * cy / 8);
}

void BuildFromTemplate(QWidget *dialog, const DialogTemplate &dialogTemplate)
{
    const auto toPixels = [dialog](const QRect &units) { return DialogUnitsToPixels(dialog, units); };

    dialog->setWindowTitle(dialogTemplate.caption);
    dialog->setFixedSize(toPixels(QRect(QPoint(0, 0), dialogTemplate.size)).size());
    QWidget *previous = nullptr;
    for (const ControlTemplate &control : dialogTemplate.controls) {
        QWidget *widget = CreateControl(dialog, control);
        QRect place = toPixels(control.rect);
        if (control.kind == ControlTemplate::Kind::ComboBox) // a combo's height includes its drop-down list
            place.setHeight(widget->sizeHint().height());

        widget->setGeometry(place);
        widget->setEnabled(!(control.flags & ControlTemplate::Disabled));
        if (control.flags & ControlTemplate::Hidden)
            widget->hide();
        if (control.kind == ControlTemplate::Kind::GroupBox)
            widget->lower(); // a frame lies under its controls and takes no clicks from them
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

void AddListBoxEntry(QListWidget *listBox, const QString &text)
{
    listBox->addItem(new ListBoxEntry(text));
}

QWidget *TemplateControl(const QWidget *dialog, int id)
{
    return dialog->findChild<QWidget *>(QStringLiteral("control%1").arg(id));
}
