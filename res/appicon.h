#pragma once

#include <QIcon>

// Icon 128: the program's icon, with its 16 and 32 pixel images.
QIcon AppIcon();
