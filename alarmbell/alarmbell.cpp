#include "alarmbell.h"

#include <QSoundEffect>
#include <QUrl>

AlarmBell::AlarmBell(QObject *parent)
    : QObject(parent)
    , m_player([this] { PlayShippedSound(); })
{
    connect(&m_timer, &QTimer::timeout, this, [this] { m_player(); });
}

AlarmBell::~AlarmBell() = default;

void AlarmBell::SetPlayer(std::function<void()> player)
{
    m_player = std::move(player);
}

void AlarmBell::Ring()
{
    if (IsRinging())
        return;
    m_player();
    m_timer.start(kRepeatMs);
}

void AlarmBell::Silence()
{
    m_timer.stop();
    if (m_sound)
        m_sound->stop();
}

void AlarmBell::PlayShippedSound()
{
    // Without a sound device nothing is heard, and nothing else breaks.
    if (!m_sound) {
        m_sound = std::make_unique<QSoundEffect>();
        m_sound->setSource(QUrl(QStringLiteral("qrc:/sounds/alarm.wav")));
        m_sound->setVolume(1.0);
    }
    m_sound->play();
}
