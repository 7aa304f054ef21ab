#pragma once

class MessageSeam;
class QString;
class QWidget;

// "Экспорт в CSV...": asks where to (the standard file dialog, through the
// message seam), exports the record folder with a progress dialog that can
// cancel it, and says how it went.
void ExportFolderToCsv(MessageSeam &messages, QWidget *owner, const QString &folder);
