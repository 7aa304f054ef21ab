#include "devicebox.h"

#include <QAbstractItemView>

DeviceBox::DeviceBox(QWidget *parent, Lister lister)
    : QComboBox(parent)
    , m_lister(std::move(lister))
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The box is as narrow as the template's label was; the list is as wide as its names.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // A by-id name is longer than the box: the whole of it is in the tooltip.
    connect(this, &QComboBox::currentTextChanged, this, [this](const QString &text) { setToolTip(text); });
}

void DeviceBox::SetDevice(const QString &path)
{
    Rescan();
    setEditText(path);
}

void DeviceBox::showPopup()
{
    Rescan();
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 24);
    QComboBox::showPopup();
}

void DeviceBox::Rescan()
{
    const QString text = currentText();
    clear();
    for (const SerialDeviceChoice &choice : m_lister()) {
        addItem(choice.path);
        setItemData(count() - 1, choice.description.isEmpty() ? choice.path : choice.description, Qt::ToolTipRole);
    }
    setEditText(text); // a rescan never changes what was chosen or typed
}
