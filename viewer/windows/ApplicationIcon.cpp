#include "viewer/windows/ApplicationIcon.h"

#include <QSize>
#include <QString>
#include <array>

// Outside any namespace: Q_INIT_RESOURCE names a function of the generated resource file.
static void initViewerResources() {
    Q_INIT_RESOURCE(quorvane);
}

namespace {
constexpr std::array<int, 7> kIconSizes = {16, 24, 32, 48, 64, 128, 256};
}  // namespace

QIcon loadApplicationIcon() {
    initViewerResources();
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addFile(QStringLiteral(":/icons/quorvane-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
