#include "viewer/live/PowerWatcher.h"

#include <QDBusConnection>

#include "viewer/live/FrameRules.h"

namespace {
constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginInterface = "org.freedesktop.login1.Manager";
constexpr const char* kPowerService = "org.freedesktop.UPower";
constexpr const char* kDisplayDevicePath = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr const char* kDeviceInterface = "org.freedesktop.UPower.Device";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kWarningLevel = "WarningLevel";
}  // namespace

PowerWatcher::PowerWatcher(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    const bool sleep =
        bus.connect(QString::fromLatin1(kLoginService), QString::fromLatin1(kLoginPath),
                    QString::fromLatin1(kLoginInterface), QStringLiteral("PrepareForSleep"), this,
                    SLOT(onPrepareForSleep(bool)));
    const bool battery = bus.connect(
        QString::fromLatin1(kPowerService), QString::fromLatin1(kDisplayDevicePath),
        QString::fromLatin1(kPropertiesInterface), QStringLiteral("PropertiesChanged"), this,
        SLOT(onDisplayDevicePropertiesChanged(QString, QVariantMap, QStringList)));
    m_watching = sleep || battery;
}

void PowerWatcher::onPrepareForSleep(bool start) {
    emit powerBroadcast(start ? PowerEvent::kSuspend : PowerEvent::kResumeSuspend);
}

void PowerWatcher::onDisplayDevicePropertiesChanged(const QString& interfaceName,
                                                    const QVariantMap& changed,
                                                    const QStringList&) {
    if (interfaceName != QLatin1String(kDeviceInterface)) {
        return;
    }
    const auto level = changed.constFind(QString::fromLatin1(kWarningLevel));
    if (level == changed.constEnd()) {
        return;
    }
    const std::uint32_t value = level->toUInt();
    const bool low = value == kWarningLow || value == kWarningCritical || value == kWarningAction;
    emit powerBroadcast(low ? PowerEvent::kBatteryLow : PowerEvent::kPowerStatusChange);
}
