#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

class QListWidget;
class QWidget;

// One control of a dialog template, placed in dialog units.
struct ControlTemplate
{
    enum class Kind {
        PushButton,
        DefaultPushButton,
        Label,
        Icon, // the application's icon
        LineEdit,
        MultiLineEdit,
        GroupBox,
        RadioButton,
        CheckBox,
        ComboBox, // a drop-down list; with `editable` it has an edit field
        ListBox,
    };
    enum Flag {
        NoFlags = 0,
        Disabled = 1 << 0,
        Hidden = 1 << 1,
        ReadOnly = 1 << 2,
        DigitsOnly = 1 << 3, // an edit that takes only the digits 0 to 9
        Editable = 1 << 4,
        Sorted = 1 << 5,
    };

    int id = -1; // -1: a control without an id (static texts, frames)
    Kind kind = Kind::Label;
    QString text;
    QRect rect; // x, y, width, height in dialog units
    int flags = NoFlags;
    QStringList items = {}; // a combo box's initial list
};

// A dialog as its template describes it: caption, size in dialog units and
// controls in tab order.
struct DialogTemplate
{
    int id = 0;
    QString caption;
    QSize size;
    std::vector<ControlTemplate> controls;
};

// The templates of the program's dialogs, by id. Throws std::out_of_range for
// an unknown id.
const DialogTemplate &Template(int id);

// Creates the template's controls in `dialog`, sized through the dialog font
// (x·cx/4, y·cy/8 with cx, cy the font's average character width and height),
// in tab order. On a QDialog, button 1 accepts and button 2 rejects.
void BuildFromTemplate(QWidget *dialog, const DialogTemplate &dialogTemplate);

// Dialog units to pixels for `widget`'s font.
QRect DialogUnitsToPixels(const QWidget *widget, const QRect &units);

// Adds an entry to a template's list box; a sorted one keeps its entries in
// order regardless of case.
void AddListBoxEntry(QListWidget *listBox, const QString &text);

// The control with the template id inside a dialog built from a template.
QWidget *TemplateControl(const QWidget *dialog, int id);

template<typename Widget>
Widget *TemplateControl(const QWidget *dialog, int id)
{
    return qobject_cast<Widget *>(TemplateControl(dialog, id));
}
