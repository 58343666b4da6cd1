#include "viewer/files/SavedLog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "viewer/files/FileMapping.h"

namespace {

bool isControlByteOfBinary(unsigned char byte) {
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned char kEscape = 0x1b;
    return byte < kFirstPrintable && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f' &&
           byte != kEscape;
}

std::string failureOf(const FileMapping& mapping) {
    switch (mapping.status()) {
        case FileMapping::Status::Directory:
            return "it is a directory";
        case FileMapping::Status::NotRegularFile:
            return "it is not a regular file";
        case FileMapping::Status::SystemError:
            return std::generic_category().message(mapping.error());
        case FileMapping::Status::TooManyMappings:
            return "the viewer opens at most " + std::to_string(FileMapping::kMaxGuardedMappings) +
                   " files at once";
        case FileMapping::Status::ReadTooLong:
            return "it is not a saved log: it has no size and reads on past " +
                   std::to_string(FileMapping::kMaxReadLength) + " bytes";
        case FileMapping::Status::ReadWouldWait:
            return "it is not a saved log: it has no size and waits for more to be written";
        case FileMapping::Status::Open:
            break;
    }
    return {};
}

}  // namespace

std::string SavedLog::binaryContentReason(std::string_view bytes) {
    const std::string_view start = bytes.substr(0, kSniffLength);
    if (const std::size_t nul = start.find('\0'); nul != std::string_view::npos) {
        return "it is not a saved log: it holds a NUL byte at offset " + std::to_string(nul);
    }
    const auto controls =
        static_cast<std::size_t>(std::count_if(start.begin(), start.end(), [](char byte) {
            return isControlByteOfBinary(static_cast<unsigned char>(byte));
        }));
    if (controls > 0 && controls * kControlByteShare > start.size()) {
        return "it is not a saved log: " + std::to_string(controls) + " of its first " +
               std::to_string(start.size()) + " bytes are control bytes";
    }
    return {};
}

SavedLog SavedLog::open(const std::string& path) {
    SavedLog log;
    auto mapping = std::make_shared<const FileMapping>(path);
    log.m_failure = failureOf(*mapping);
    if (!log.m_failure.empty()) {
        return log;
    }
    const std::string_view bytes = mapping->bytes();
    log.m_fileSize = bytes.size();
    log.m_failure = binaryContentReason(bytes);
    if (!log.m_failure.empty()) {
        return log;
    }
    std::size_t start = 0;
    while (start < bytes.size()) {
        const void* found = std::memchr(bytes.data() + start, '\n', bytes.size() - start);
        const std::size_t end =
            found != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data())
                : bytes.size();
        std::size_t length = end - start;
        if (length > 0 && found != nullptr && bytes[end - 1] == '\r') {
            --length;
        }
        if (length > kMaxLineLength) {
            log.m_failure = "it is not a saved log: line " +
                            std::to_string(log.m_lines.size() + 1) + " is longer than " +
                            std::to_string(kMaxLineLength) + " bytes";
            log.m_lines = LineStore();
            return log;
        }
        if (log.m_lines.size() == kMaxLines) {
            log.m_failure = "it has more than " + std::to_string(kMaxLines) + " lines";
            log.m_lines = LineStore();
            return log;
        }
        log.m_lines.appendInPlace(bytes.substr(start, length));
        start = end + 1;
    }
    log.m_lines.keepAlive(std::move(mapping));
    return log;
}
