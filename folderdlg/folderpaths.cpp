#include "folderpaths.h"

#include <QDir>

QString DefaultFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    return QDir::homePath();
#endif
}

bool IsPathSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

QString WithoutTrailing(QString text, const QString &characters)
{
    while (!text.isEmpty() && characters.contains(text.back()))
        text.chop(1);
    return text;
}

QString WithSubfolder(const QString &folder, const QString &subfolder)
{
    return WithoutTrailing(folder, QStringLiteral(" \\/")) + QDir::separator() + subfolder;
}
