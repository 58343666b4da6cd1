#pragma once

// Root of the kernel-object tree; holds no data.
class CMclWaitableObject {
  public:
    virtual ~CMclWaitableObject() = default;
};
