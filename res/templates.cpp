// The data of the program's dialog templates.
#include "dialogtemplate.h"

#include <map>
#include <stdexcept>

namespace {

using Kind = ControlTemplate::Kind;

DialogTemplate FileNamePrompt()
{
    DialogTemplate t;
    t.id = 132;
    t.caption = QStringLiteral("Dialog");
    t.size = QSize(186, 95);
    t.controls = {
        {1, Kind::DefaultPushButton, QStringLiteral("OK"), QRect(129, 7, 50, 14)},
        {2, Kind::PushButton, QStringLiteral("Cancel"), QRect(129, 24, 50, 14)},
        {-1, Kind::Label,
         QStringLiteral("Не могу создать очередной файл, так как количество записанных файлов превышает 10000. "
                        "Если вы не хотите потерять данные, необходимо ввести имя файла для сохранения и нажать Ok. "),
         QRect(7, 7, 117, 52)},
        {-1, Kind::Label, QStringLiteral("Имя файла"), QRect(7, 65, 39, 8)},
        {1027, Kind::LineEdit, QString(), QRect(7, 76, 172, 12)},
    };
    return t;
}

DialogTemplate AboutBox()
{
    DialogTemplate t;
    t.id = 100;
    t.caption = QStringLiteral("About Calorivista");
    t.size = QSize(235, 55);
    t.controls = {
        {-1, Kind::Icon, QString(), QRect(11, 17, 20, 20)},
        {-1, Kind::Label, QStringLiteral("Calorivista Version 1.0"), QRect(40, 10, 119, 8)},
        {1, Kind::DefaultPushButton, QStringLiteral("OK"), QRect(178, 7, 50, 14)},
    };
    return t;
}

DialogTemplate MainDialog()
{
    DialogTemplate t;
    t.id = 102;
    t.caption = QStringLiteral("Calorivista");
    t.size = QSize(320, 162);
    t.controls = {
        {1, Kind::DefaultPushButton, QStringLiteral("OK(Start)"), QRect(234, 79, 79, 14)},
        {2, Kind::PushButton, QStringLiteral("Cancel"), QRect(234, 141, 79, 14)},
        {1000, Kind::PushButton, QStringLiteral("Настройки"), QRect(234, 121, 79, 14)},
        {1002, Kind::PushButton, QStringLiteral("Выбор папки..."), QRect(7, 7, 85, 14)},
        {1003, Kind::LineEdit, QString(), QRect(103, 7, 210, 15)},
        {-1, Kind::Label, QStringLiteral("Комментарий"), QRect(7, 46, 53, 8)},
        {1005, Kind::MultiLineEdit, QString(), QRect(7, 55, 219, 100)},
        {1006, Kind::PushButton, QStringLiteral("Показ"), QRect(271, 34, 36, 14)},
        {-1, Kind::GroupBox, QStringLiteral("График"), QRect(122, 25, 191, 26)},
        {-1, Kind::Label, QStringLiteral("От"), QRect(125, 39, 10, 8)},
        {1024, Kind::LineEdit, QString(), QRect(137, 36, 40, 12)},
        {1025, Kind::LineEdit, QString(), QRect(215, 36, 41, 12), ControlTemplate::DigitsOnly},
        {-1, Kind::Label, QStringLiteral("До"), QRect(201, 39, 11, 8)},
        {-1, Kind::Label, QStringLiteral("C"), QRect(181, 39, 8, 8)},
        {-1, Kind::Label, QStringLiteral("C"), QRect(259, 40, 9, 8)},
        {1026, Kind::LineEdit, QString(), QRect(67, 28, 40, 14), ControlTemplate::ReadOnly},
        {-1, Kind::Label, QStringLiteral("Температура"), QRect(17, 30, 46, 8)},
        {1029, Kind::PushButton, QStringLiteral("Stop"), QRect(234, 101, 79, 14), ControlTemplate::Disabled},
        {-1, Kind::Label, QStringLiteral("o"), QRect(177, 33, 8, 7)},
        {-1, Kind::Label, QStringLiteral("o"), QRect(255, 33, 8, 8)},
    };
    return t;
}

DialogTemplate SettingsDialog()
{
    DialogTemplate t;
    t.id = 129;
    t.caption = QStringLiteral("Настройки");
    t.size = QSize(294, 108);
    t.controls = {
        {1, Kind::DefaultPushButton, QStringLiteral("OK"), QRect(237, 7, 50, 14)},
        {2, Kind::PushButton, QStringLiteral("Cancel"), QRect(237, 28, 50, 14)},
        {1007, Kind::ComboBox, QString(), QRect(84, 20, 80, 63), ControlTemplate::Editable,
         {QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("1200"), QStringLiteral("1800"),
          QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("7200"), QStringLiteral("9600"),
          QStringLiteral("14400"), QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600"),
          QStringLiteral("115200")}},
        {-1, Kind::Label, QStringLiteral("Скорость передачи"), QRect(83, 13, 66, 8)},
        {1011, Kind::RadioButton, QStringLiteral("COM1"), QRect(27, 28, 36, 10)},
        {1012, Kind::RadioButton, QStringLiteral("COM2"), QRect(29, 66, 36, 10)},
        {-1, Kind::GroupBox, QStringLiteral("Порт"), QRect(15, 17, 59, 74)},
        {-1, Kind::Label, QStringLiteral("Биты данных"), QRect(83, 40, 45, 8), ControlTemplate::Hidden},
        {1022, Kind::ComboBox, QString(), QRect(84, 48, 81, 30), ControlTemplate::Sorted | ControlTemplate::Hidden},
        {-1, Kind::Label, QStringLiteral("Чётность"), QRect(82, 68, 33, 8), ControlTemplate::Hidden},
        {1023, Kind::ComboBox, QString(), QRect(82, 77, 84, 12), ControlTemplate::Sorted | ControlTemplate::Hidden},
        {-1, Kind::GroupBox, QStringLiteral("Соединение"), QRect(7, 7, 171, 94)},
        {-1, Kind::Label, QStringLiteral("Промежуток между сохранениями данных (сек)"), QRect(193, 46, 74, 25)},
        {1028, Kind::LineEdit, QString(), QRect(195, 73, 68, 12), ControlTemplate::DigitsOnly},
    };
    return t;
}

DialogTemplate FolderChooser()
{
    DialogTemplate t;
    t.id = 131;
    t.caption = QStringLiteral("Выбор папки протоколов");
    t.size = QSize(213, 162);
    t.controls = {
        {1, Kind::DefaultPushButton, QStringLiteral("OK"), QRect(155, 104, 51, 14)},
        {2, Kind::PushButton, QStringLiteral("Cancel"), QRect(156, 121, 50, 14)},
        {1014, Kind::ListBox, QString(), QRect(7, 37, 140, 98), ControlTemplate::Sorted},
        {-1, Kind::Label, QStringLiteral("Текущая папка"), QRect(7, 7, 55, 9)},
        {1016, Kind::Label, QStringLiteral("Static"), QRect(7, 23, 199, 8)},
        {1017, Kind::LineEdit, QString(), QRect(67, 142, 139, 13)},
        {1015, Kind::PushButton, QStringLiteral("Создать папку"), QRect(7, 140, 54, 15)},
        {-1, Kind::Label, QStringLiteral("Сменить диск"), QRect(149, 37, 50, 8)},
        {1018, Kind::ComboBox, QString(), QRect(155, 50, 51, 45), ControlTemplate::Editable | ControlTemplate::Sorted},
        {1019, Kind::CheckBox, QStringLiteral("в подпапку"), QRect(67, 7, 53, 10)},
        {1021, Kind::LineEdit, QString(), QRect(125, 7, 81, 13), ControlTemplate::ReadOnly},
    };
    return t;
}

const std::map<int, DialogTemplate> &AllTemplates()
{
    static const std::map<int, DialogTemplate> templates {
        {100, AboutBox()},
        {102, MainDialog()},
        {129, SettingsDialog()},
        {131, FolderChooser()},
        {132, FileNamePrompt()},
    };
    return templates;
}

} // namespace

const DialogTemplate &Template(int id)
{
    return AllTemplates().at(id);
}
