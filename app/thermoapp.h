#pragma once

#include <QApplication>
#include <QTranslator>

// The application: runs the main dialog until it ends.
class CThermoApp : public QApplication
{
    Q_OBJECT

public:
    CThermoApp(int &argc, char **argv);

    // Runs the main dialog until it ends; its end is the program's end.
    int InitInstance();

private:
    QTranslator m_qtTexts; // Qt's own texts in Russian
};
