#include "client/CQuorvane.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/EntryFormat.h"
#include "quorvane/Names.h"
#include "records/RecordFields.h"
#include "transport/TraceMailbox.h"

namespace {

using quorvane::kMailSlots;
using quorvane::kRegistryKey;
using quorvane::kRegistryValue;

}  // namespace

DWORD CQuorvane::getMailSlots() {
    return kMailSlots;
}

const char* CQuorvane::getMailboxName() {
    return traceMailboxName();
}

HKEY CQuorvane::getRegistryBranch() {
    return HKEY_CURRENT_USER;
}

const char* CQuorvane::getRegistryKey() {
    return kRegistryKey;
}

const char* CQuorvane::getRegistryValue() {
    return kRegistryValue;
}

CQuorvane::CQuorvane() {
    std::memset(&m_record, 0, sizeof m_record);
}

CQuorvane::CQuorvane(const TraceRecord& record) {
    copyWordsFrom(record);
}

CQuorvane::CQuorvane(const CQuorvane& other) {
    copyWordsFrom(other.m_record);
}

CQuorvane& CQuorvane::operator=(const CQuorvane& other) {
    copyWordsFrom(other.m_record);
    return *this;
}

CQuorvane::~CQuorvane() = default;

void CQuorvane::copyWordsFrom(const TraceRecord& source) {
    // Word by word through memcpy: the record is only 4-byte aligned and may alias `this`.
    auto* to = reinterpret_cast<unsigned char*>(&m_record);
    const auto* from = reinterpret_cast<const unsigned char*>(&source);
    for (std::size_t i = 0; i < kRecordWords; ++i) {
        std::uint32_t word;
        std::memcpy(&word, from + i * sizeof word, sizeof word);
        std::memcpy(to + i * sizeof word, &word, sizeof word);
    }
}

void CQuorvane::setEntryName(const char* text) {
    setRecordField(m_record.entryName, text);
}

void CQuorvane::setEntryText(const char* text) {
    setRecordField(m_record.entryText, text);
}

void CQuorvane::setEntryTextV(const char* format, std::va_list arguments) {
    if (format == nullptr) {
        setEntryText(nullptr);
        return;
    }
    char* field = m_record.entryText;
    const int written =
        quorvane::formatEntryText(field, TraceRecord::kEntryTextSize, format, arguments);
    const std::size_t length = written < 0 ? 0 : strnlen(field, TraceRecord::kEntryTextSize - 1);
    std::memset(field + length, 0, TraceRecord::kEntryTextSize - length);
}

void CQuorvane::setOriginName(const char* text) {
    setRecordField(m_record.originName, text);
}

void CQuorvane::setTimestamp(std::int64_t secondsSinceEpoch) {
    m_record.timestamp = secondsSinceEpoch;
}

void CQuorvane::setPreciseTime(std::uint32_t nanoseconds, std::uint32_t sequence) {
    m_record.nanoseconds = nanoseconds;
    m_record.sequence = sequence;
    m_record.marker = quorvane::kPreciseTimeMarker;
}

void CQuorvane::setDepthDelta(std::int32_t depthDelta) {
    m_record.depthDelta = depthDelta;
}

void CQuorvane::setSenderKey(std::uint32_t senderKey) {
    m_record.senderKey = senderKey;
}

std::string_view CQuorvane::getEntryName() const {
    return recordFieldText(m_record.entryName);
}

std::string_view CQuorvane::getEntryText() const {
    return recordFieldText(m_record.entryText);
}

std::string_view CQuorvane::getOriginName() const {
    return recordFieldText(m_record.originName);
}

std::int64_t CQuorvane::getTimestamp() const {
    return m_record.timestamp;
}

std::int32_t CQuorvane::getDepthDelta() const {
    return m_record.depthDelta;
}

std::uint32_t CQuorvane::getSenderKey() const {
    return m_record.senderKey;
}
