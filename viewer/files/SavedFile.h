#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/FileDescriptor.h"

// The file a save writes to. Every symbolic link in the chosen name is followed to the real file,
// so links stay links and the file they lead to gets the lines.
//
// Normally a new file is written beside the real file under a temporary name, given the old
// file's permissions and renamed over it once every byte is written, so a failed save leaves the
// old file whole. Where a replacement would change what the name stands for, the file itself is
// truncated and rewritten instead: when it has other hard links, belongs to another user, or sits
// in a folder this user cannot write. A failure there leaves it incomplete.
class SavedFile {
  public:
    // Opens the file for `path`, a name in the system's 8-bit encoding.
    explicit SavedFile(const std::string& path);
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;
    // A replacement that was not put in place is removed.
    ~SavedFile();

    // Appends `bytes`; false once anything has failed.
    bool write(std::string_view bytes);
    // Closes the file and puts a replacement in place; true when every step succeeded.
    bool commit();

    // The system's error number of the first failure, 0 while none.
    int error() const { return m_error; }
    bool writesInPlace() const { return m_inPlace; }
    // True when a failure came after the real file was opened to be rewritten in place.
    bool damagedTarget() const { return m_error != 0 && m_inPlace && m_opened; }

  private:
    void openInPlace();
    void openReplacement(bool targetExists, unsigned permissions);
    bool fail(int error);

    std::string m_target;
    std::string m_replacement;
    std::optional<quorvane::platform::FileDescriptor> m_file;
    int m_error = 0;
    bool m_inPlace = false;
    bool m_opened = false;
    bool m_committed = false;
};
