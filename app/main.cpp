// Calorivista: start-up. The main dialog comes next; until then the program
// shows a placeholder window.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Calorivista"));
    QApplication::setApplicationName(QStringLiteral("Calorivista"));
    QApplication::setApplicationVersion(QStringLiteral(CALORIVISTA_VERSION));

    QLabel placeholder(QStringLiteral("Calorivista %1").arg(QApplication::applicationVersion()));
    placeholder.setMinimumSize(320, 120);
    placeholder.setAlignment(Qt::AlignCenter);
    placeholder.show();
    return app.exec();
}
