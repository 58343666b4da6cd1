#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>

// Turns the desktop's power notices on the system bus into power broadcast events: the login
// manager's PrepareForSleep(true) is a suspend, PrepareForSleep(false) a resume; the power
// daemon's display device reaching a low, critical or action warning level is battery-low, any
// other level a power status change. Without a system bus it watches nothing.
class PowerWatcher : public QObject {
    Q_OBJECT
  public:
    explicit PowerWatcher(QObject* parent = nullptr);

    bool isWatching() const { return m_watching; }

    // Display-device warning levels of the power daemon.
    static constexpr std::uint32_t kWarningLow = 3;
    static constexpr std::uint32_t kWarningCritical = 4;
    static constexpr std::uint32_t kWarningAction = 5;

  signals:
    // `event` is a power broadcast number (PowerEvent in FrameRules.h).
    void powerBroadcast(std::uintptr_t event);

  private slots:
    void onPrepareForSleep(bool start);
    void onDisplayDevicePropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                          const QStringList& invalidated);

  private:
    bool m_watching = false;
};
