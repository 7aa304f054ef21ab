#include "osuser.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

QString OsUserName()
{
#ifdef Q_OS_UNIX
    // The account itself: $USER may be set to anything by whoever starts the program.
    if (const passwd *account = getpwuid(geteuid()); account && account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
    return qEnvironmentVariable("USER");
#else
    return qEnvironmentVariable("USERNAME");
#endif
}
