#include "viewer/files/LogFileWriter.h"

#include <QFile>
#include <algorithm>
#include <system_error>

#include "viewer/files/SavedFile.h"
#include "viewer/lines/CLogListModel.h"

namespace {
constexpr std::size_t kWriteChunkSize = 1u << 20;
constexpr std::size_t kTimeTextSize = 128;
constexpr const char* kDefaultNamePattern = "%Y%m%d%H%M%S";
constexpr char kTab = '\t';
constexpr std::string_view kLineEnd = "\r\n";
}  // namespace

LogFileWriter::LogFileWriter() {
    m_buffer.reserve(kWriteChunkSize + kWriteChunkSize / 4);
}

void LogFileWriter::appendSavedLine(std::string& out, std::string_view line) {
    std::size_t start = 0;
    while (start < line.size()) {
        const std::size_t tab = line.find(kTab, start);
        if (tab == std::string_view::npos) {
            out.append(line.data() + start, line.size() - start);
            break;
        }
        out.append(line.data() + start, tab + 1 - start);
        start = line.find_first_not_of(kTab, tab);
        if (start == std::string_view::npos) {
            break;
        }
    }
    out.append(kLineEnd);
}

QString SaveResult::reason() const {
    return QString::fromLocal8Bit(std::generic_category().message(error));
}

SaveResult LogFileWriter::write(const QString& path, const CLogListModel& model,
                                std::uint32_t lineCount, bool newestOnTop) {
    SavedFile file(QFile::encodeName(path).toStdString());
    std::size_t written = 0;
    const auto result = [&file, &written] {
        return SaveResult{file.error(), file.damagedTarget(), file.error() == 0 ? written : 0};
    };
    if (file.error() != 0) {
        return result();
    }
    const std::size_t count = std::min<std::size_t>(lineCount, model.size());
    m_buffer.clear();
    for (std::size_t visited = 0; visited < count; ++visited) {
        const std::size_t row = newestOnTop ? count - 1 - visited : visited;
        appendSavedLine(m_buffer, model.line(row));
        if (m_buffer.size() >= kWriteChunkSize) {
            if (!file.write(m_buffer)) {
                m_buffer.clear();
                return result();
            }
            m_buffer.clear();
        }
    }
    file.write(m_buffer);
    m_buffer.clear();
    file.commit();
    written = count;
    return result();
}

QString saveReportText(const QString& path, std::size_t lines, std::size_t heldBack,
                       std::size_t hidden, const QString& hiddenBy) {
    const auto count = [](std::size_t number) {
        return QStringLiteral("%1 line%2")
            .arg(number)
            .arg(number == 1 ? QString() : QStringLiteral("s"));
    };
    QString text = QStringLiteral("Saved %1 to \"%2\".").arg(count(lines), path);
    if (heldBack > 0) {
        text += QStringLiteral(
                    " Not saved: %1 held back by the pause (resume, then save again "
                    "to keep them).")
                    .arg(count(heldBack));
    }
    if (hidden > 0) {
        text += QStringLiteral(" The file also holds %1 the window does not show (%2).")
                    .arg(count(hidden), hiddenBy);
    }
    return text;
}

QString saveFailureText(const QString& path, const SaveResult& result) {
    const QString consequence = result.damagedTarget
                                    ? QStringLiteral(
                                          "The file was being rewritten in place and is "
                                          "now incomplete.")
                                    : QStringLiteral("No file was changed.");
    return QStringLiteral("The lines could not be saved to \"%1\": %2.\n%3")
        .arg(path, result.reason(), consequence);
}

std::string defaultSaveFileName(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return {};
    }
    char text[kTimeTextSize];
    const std::size_t length = std::strftime(text, sizeof(text), kDefaultNamePattern, &local);
    return std::string(text, length);
}
