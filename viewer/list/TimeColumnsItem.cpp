#include "viewer/list/TimeColumnsItem.h"

#include <QActionGroup>
#include <QMenu>
#include <string>

#include "platform/Registry.h"
#include "quorvane/Names.h"
#include "viewer/list/CLogListView.h"

namespace {

// Below the agreed key: this window's own choices.
const std::string kWindowKey = std::string(quorvane::kRegistryKey) + "\\Window";
constexpr const char* kPreciseTimeValue = "PreciseTimeDigits";
constexpr const char* kDurationsValue = "Durations";
// What a first start shows: milliseconds and durations, as most traces are read.
constexpr DWORD kDefaultDigits = 3;
constexpr DWORD kDefaultDurations = 1;

DWORD readDword(HKEY key, const char* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

}  // namespace

TimeColumnsItem::TimeColumnsItem(CLogListView& list) : m_list(list) {
    m_list.setTimeColumns(load());
}

TimeColumns TimeColumnsItem::load() {
    TimeColumns columns{static_cast<int>(kDefaultDigits), kDefaultDurations != 0};
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kWindowKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return columns;
    const DWORD digits = readDword(key, kPreciseTimeValue, kDefaultDigits);
    columns.fractionDigits = digits == 0 || digits == 3 || digits == 6
                                 ? static_cast<int>(digits)
                                 : static_cast<int>(kDefaultDigits);
    columns.durations = readDword(key, kDurationsValue, kDefaultDurations) != 0;
    RegCloseKey(key);
    return columns;
}

void TimeColumnsItem::save(const TimeColumns& columns) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kWindowKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const DWORD digits = static_cast<DWORD>(columns.fractionDigits);
    const DWORD durations = columns.durations ? 1 : 0;
    RegSetValueExA(key, kPreciseTimeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&digits),
                   sizeof digits);
    RegSetValueExA(key, kDurationsValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&durations),
                   sizeof durations);
    RegCloseKey(key);
}

void TimeColumnsItem::choose(const TimeColumns& columns) {
    m_list.setTimeColumns(columns);
    save(columns);
}

void TimeColumnsItem::addMenuAction(QMenu& menu) {
    const TimeColumns current = m_list.timeColumns();
    QMenu* precise = menu.addMenu(QStringLiteral("Precise &Time"));
    auto* group = new QActionGroup(precise);
    for (const auto& [text, digits] :
         {std::pair{QStringLiteral("&Off"), 0}, std::pair{QStringLiteral("&Milliseconds"), 3},
          std::pair{QStringLiteral("Mi&croseconds"), 6}}) {
        QAction* action = precise->addAction(text, &m_list, [this, digits = digits] {
            TimeColumns columns = m_list.timeColumns();
            columns.fractionDigits = digits;
            choose(columns);
        });
        action->setCheckable(true);
        action->setChecked(current.fractionDigits == digits);
        group->addAction(action);
    }
    QAction* durations = menu.addAction(QStringLiteral("&Durations"), &m_list, [this] {
        TimeColumns columns = m_list.timeColumns();
        columns.durations = !columns.durations;
        choose(columns);
    });
    durations->setCheckable(true);
    durations->setChecked(current.durations);
}
