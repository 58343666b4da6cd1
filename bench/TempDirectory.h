#pragma once
#include <string>

// A fresh directory under `base` ($TMPDIR or /tmp when empty), removed with everything in it on
// destruction. One that cannot be made says so on standard error, and is not valid().
class TempDirectory {
  public:
    explicit TempDirectory(const std::string& base = std::string());
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory();

    bool valid() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};
