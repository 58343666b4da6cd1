#include "viewer/LogFileWriter.h"

#include <QSaveFile>
#include <algorithm>

#include "viewer/CLogListModel.h"

namespace {
constexpr std::size_t kWriteChunkSize = 1u << 20;
constexpr std::size_t kTimeTextSize = 128;
constexpr const char* kDefaultNamePattern = "%Y%m%d%H%M%S";
constexpr char kTab = '\t';
constexpr std::string_view kLineEnd = "\r\n";

bool writeAll(QSaveFile& file, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const qint64 result =
            file.write(bytes.data() + written, static_cast<qint64>(bytes.size() - written));
        if (result <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    return true;
}
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

bool LogFileWriter::write(const QString& path, const CLogListModel& model, std::uint32_t lineCount,
                          bool newestOnTop) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(lineCount, model.size());
    m_buffer.clear();
    for (std::size_t visited = 0; visited < count; ++visited) {
        const std::size_t row = newestOnTop ? count - 1 - visited : visited;
        appendSavedLine(m_buffer, model.line(row));
        if (m_buffer.size() >= kWriteChunkSize) {
            if (!writeAll(file, m_buffer)) {
                file.cancelWriting();
                return false;
            }
            m_buffer.clear();
        }
    }
    if (!writeAll(file, m_buffer)) {
        file.cancelWriting();
        return false;
    }
    m_buffer.clear();
    return file.commit();
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
