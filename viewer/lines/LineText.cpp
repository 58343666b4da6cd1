#include "viewer/lines/LineText.h"

#include <QStringDecoder>
#include <cstdint>
#include <cstring>

#include "records/LineFormatter.h"

namespace {
constexpr int kProgramField = 3;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

qsizetype sizeOf(std::string_view bytes) {
    return static_cast<qsizetype>(bytes.size());
}

// `bytes` as UTF-8 into `text` when they are valid UTF-8 (a byte order mark kept as a
// character); false, with `text` unchanged, when they are not.
bool appendUtf8(std::string_view bytes, QString& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = decoder.decode(QByteArrayView(bytes.data(), sizeOf(bytes)));
    if (decoder.hasError()) {
        return false;
    }
    text += decoded;
    return true;
}
}  // namespace

QString lineText(std::string_view line) {
    if (isAscii(line)) {
        return QString::fromLatin1(line.data(), sizeOf(line));
    }
    QString text;
    if (appendUtf8(line, text)) {
        return text;
    }
    // Some field is not UTF-8: each field is read on its own, so a Latin-1 text does not change
    // how a UTF-8 origin reads.
    text.reserve(sizeOf(line));
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        const std::string_view field =
            line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (!appendUtf8(field, text)) {
            text += QLatin1StringView(field.data(), sizeOf(field));
        }
        if (tab == std::string_view::npos) {
            return text;
        }
        text += QLatin1Char('\t');
        start = tab + 1;
    }
}

int programField(std::string_view line) {
    return timeColumnEnd(line) == std::string_view::npos ? -1 : kProgramField;
}

bool isAscii(std::string_view bytes) {
    std::uint64_t seen = 0;
    std::size_t at = 0;
    for (; at + sizeof seen <= bytes.size(); at += sizeof seen) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, sizeof word);
        seen |= word;
    }
    for (; at < bytes.size(); ++at) {
        seen |= static_cast<unsigned char>(bytes[at]);
    }
    return (seen & kHighBits) == 0;
}
