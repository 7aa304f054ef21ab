#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QSoundEffect;

// The sound of a raised alarm: played at once and again every few seconds
// until the operator acknowledges. The sound itself goes through a player
// that tests replace, to count what would be heard.
class AlarmBell : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRepeatMs = 4000;

    explicit AlarmBell(QObject *parent = nullptr);
    ~AlarmBell() override;

    // Plays the sound once; the program's plays the shipped sound.
    void SetPlayer(std::function<void()> player);

    void Ring();
    void Silence();
    bool IsRinging() const { return m_timer.isActive(); }

private:
    void PlayShippedSound();

    QTimer m_timer;
    std::function<void()> m_player;
    std::unique_ptr<QSoundEffect> m_sound; // made at the first play
};
