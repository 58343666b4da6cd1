#pragma once
#include "transport/CMclKernelAutoPtr.h"

// Owning pointer with typed access to the held object.
template <typename T>
class CMclDerivedAutoPtr : public CMclKernelAutoPtr {
  public:
    explicit CMclDerivedAutoPtr(T* object = nullptr) : CMclKernelAutoPtr(object) {}
    ~CMclDerivedAutoPtr() override = default;

    T* get() const { return static_cast<T*>(m_object); }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
};
