#include "viewer/LogFileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "viewer/CLogListModel.h"

namespace {
constexpr std::size_t kWriteChunkSize = 1u << 20;
constexpr std::size_t kTimeTextSize = 128;
constexpr const char* kDefaultNamePattern = "%Y%m%d%H%M%S";
constexpr char kTab = '\t';
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kTemporaryNameAttempts = 16;

// A new file written beside the target under a temporary name and put in the target's place by
// one rename once every byte is written, so the old file stays whole until then. An abandoned
// file is removed. It is not synced to disk: the file system orders a rename that replaces a file
// after that file's data, and a save of hundreds of megabytes should not wait for the disk.
class ReplacementFile {
  public:
    explicit ReplacementFile(const QString& path) {
        const QFileInfo info(path);
        // Saving through a link replaces what it points to, not the link.
        m_target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
        const QFileInfo target(m_target);
        for (int attempt = 0; attempt < kTemporaryNameAttempts && !m_file.isOpen(); ++attempt) {
            m_file.setFileName(
                QStringLiteral("%1/.%2.%3.tmp")
                    .arg(target.absolutePath(), target.fileName())
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
            // NewOnly: never write into a file that someone else created under the same name.
            m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
        }
        if (m_file.isOpen() && target.exists()) {
            m_file.setPermissions(target.permissions());
        }
    }
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile() {
        if (!m_committed && !m_file.fileName().isEmpty()) {
            m_file.close();
            QFile::remove(m_file.fileName());
        }
    }

    bool isOpen() const { return m_file.isOpen(); }

    bool write(const std::string& bytes) {
        std::size_t written = 0;
        while (written < bytes.size()) {
            const qint64 result =
                m_file.write(bytes.data() + written, static_cast<qint64>(bytes.size() - written));
            if (result <= 0) {
                return false;
            }
            written += static_cast<std::size_t>(result);
        }
        return true;
    }

    bool commit() {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError) {
            return false;
        }
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(m_file.fileName()).toStdString(),
                                QFile::encodeName(m_target).toStdString(), error);
        m_committed = !error;
        return m_committed;
    }

  private:
    QString m_target;
    QFile m_file;
    bool m_committed = false;
};
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
    ReplacementFile file(path);
    if (!file.isOpen()) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(lineCount, model.size());
    m_buffer.clear();
    for (std::size_t visited = 0; visited < count; ++visited) {
        const std::size_t row = newestOnTop ? count - 1 - visited : visited;
        appendSavedLine(m_buffer, model.line(row));
        if (m_buffer.size() >= kWriteChunkSize) {
            if (!file.write(m_buffer)) {
                return false;
            }
            m_buffer.clear();
        }
    }
    const bool written = file.write(m_buffer);
    m_buffer.clear();
    return written && file.commit();
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
