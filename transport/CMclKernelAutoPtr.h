#pragma once
#include "transport/CMclKernel.h"

// Owning pointer to one kernel object (may be empty).
class CMclKernelAutoPtr {
  public:
    explicit CMclKernelAutoPtr(CMclKernel* object = nullptr) : m_object(object) {}
    CMclKernelAutoPtr(const CMclKernelAutoPtr&) = delete;
    CMclKernelAutoPtr& operator=(const CMclKernelAutoPtr&) = delete;
    virtual ~CMclKernelAutoPtr() = 0;

    // Deletes the held object unless it is `newObject` itself, then holds `newObject`.
    void reset(CMclKernel* newObject = nullptr) {
        if (newObject != m_object && m_object != nullptr) delete m_object;
        m_object = newObject;
    }
    bool isNull() const { return m_object == nullptr; }

  protected:
    CMclKernel* m_object;
};

inline CMclKernelAutoPtr::~CMclKernelAutoPtr() {
    delete m_object;
}
