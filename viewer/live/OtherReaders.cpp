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
               "Another reader of this mailbox runs: %1. Each record goes to one reader only, "
               "so this window shows only part of them.")
        .arg(names(readers));
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
