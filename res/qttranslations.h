#pragma once

class QTranslator;

// Loads Qt's own Russian texts (Yes and No in boxes, the file dialog, Cancel
// in the progress dialog) from where Qt keeps its translations, so that the
// toolkit speaks as the program does. False when they are not installed: Qt's
// English texts stay.
bool LoadQtTranslations(QTranslator &translator);
