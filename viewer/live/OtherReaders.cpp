#include "viewer/live/OtherReaders.h"

#include <algorithm>

#include "transport/ReaderPresence.h"
#include "viewer/live/PresenceKeeper.h"

namespace {
QString names(const std::vector<MarkedProcess>& readers) {
    return QString::fromStdString(describeReaders(readers));
}
}  // namespace

QString otherReadersNote(const std::vector<MarkedProcess>& readers) {
    if (readers.empty()) {
        return {};
    }
    return QStringLiteral(
               "%1 of this mailbox %2: %3. Each record goes to one reader only, so this window "
               "shows only part of them.")
        .arg(readers.size() == 1 ? QStringLiteral("Another reader")
                                 : QStringLiteral("Other readers"),
             readers.size() == 1 ? QStringLiteral("runs") : QStringLiteral("run"), names(readers));
}

QString otherReadersTitle(const QString& caption, const std::vector<MarkedProcess>& readers) {
    if (readers.empty()) {
        return caption;
    }
    return QStringLiteral("%1 (also read by %2)").arg(caption, names(readers));
}

int otherViewerCount(const std::vector<MarkedProcess>& readers) {
    return static_cast<int>(
        std::count_if(readers.begin(), readers.end(), [](const MarkedProcess& reader) {
            return reader.program == PresenceKeeper::kReaderProgram;
        }));
}
