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

const std::map<int, DialogTemplate> &AllTemplates()
{
    static const std::map<int, DialogTemplate> templates {
        {132, FileNamePrompt()},
    };
    return templates;
}

} // namespace

const DialogTemplate &Template(int id)
{
    return AllTemplates().at(id);
}
