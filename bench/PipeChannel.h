#pragma once
#include <cstddef>

#include "bench/RecordChannel.h"

// Records written to and read from an anonymous pipe, one write and one read per record; a read
// that returns part of a record is continued until the record is whole. The pipe's buffer is
// set, where the system allows, to hold `capacityRecords` records, like the other channels.
class PipeChannel : public RecordChannel {
  public:
    explicit PipeChannel(std::size_t capacityRecords);
    ~PipeChannel() override;

    std::string label() const override;
    bool create(std::string& reason) override;
    bool openSender() override;
    bool send(const void* record) override;
    bool openReceiver() override;
    bool receive(void* record) override;
    void destroy() override;

  protected:
    // The sending end, for channels that write records their own way.
    int writeDescriptor() const { return m_writeEnd; }

  private:
    void closeEnd(int& fd);

    std::size_t m_capacityRecords;
    std::size_t m_bufferBytes = 0;
    int m_readEnd = -1;
    int m_writeEnd = -1;
};
