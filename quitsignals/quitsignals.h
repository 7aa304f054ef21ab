#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the system's requests to quit (SIGTERM, SIGHUP, SIGINT on Unix) into
// a signal on the user-interface thread, so that a run is stopped and saved
// before the program exits. One instance at a time.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested();

private:
    QSocketNotifier *m_pNotifier = nullptr;
};
