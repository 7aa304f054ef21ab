#include "qttranslations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool LoadQtTranslations(QTranslator &translator)
{
    return translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
