#include <gtest/gtest.h>

#include <string>

#include "tests/support/ProcessSupport.h"
#include "transport/CMclDerivedAutoPtr.h"
#include "transport/CMclError.h"
#include "transport/CMclMutex.h"
#include "transport/CMclSemaphore.h"
#include "transport/CMclSharedMemory.h"

using quorvane::test::ChildProcess;
using quorvane::test::uniqueName;

namespace {

// A semaphore that counts its destructions.
class CountedSemaphore : public CMclSemaphore {
  public:
    explicit CountedSemaphore(int& destroyed)
        : CMclSemaphore(0, 1, nullptr), m_destroyed(destroyed) {}
    ~CountedSemaphore() override { ++m_destroyed; }

  private:
    int& m_destroyed;
};

TEST(KernelWrappers, StatusTellsCreatedFromOpenedAndUnnamedIsAlwaysNew) {
    std::string name = uniqueName("wrap");
    CMclMutex created(FALSE, name.c_str());
    EXPECT_EQ(created.getStatus(), ERROR_SUCCESS);
    CMclMutex opened(FALSE, name.c_str());
    EXPECT_EQ(opened.getStatus(), ERROR_ALREADY_EXISTS);
    CMclSemaphore unnamed(0, 1, nullptr);
    EXPECT_EQ(unnamed.getStatus(), ERROR_SUCCESS);
    EXPECT_NE(unnamed.getHandle(), nullptr);
}

TEST(KernelWrappers, FailedCreationRaisesThePlatformCode) {
    std::string name = uniqueName("clash");
    CMclSemaphore semaphore(0, 1, name.c_str());
    try {
        CMclMutex clash(FALSE, name.c_str());
        FAIL() << "no exception";
    } catch (DWORD code) {
        EXPECT_EQ(code, ERROR_INVALID_HANDLE);
    }
    try {
        CMclSemaphore none(0, 0, nullptr);
        FAIL() << "no exception";
    } catch (DWORD code) {
        EXPECT_EQ(code, ERROR_INVALID_PARAMETER);
    }
    EXPECT_THROW(raiseMclError(42, "here", 1), DWORD);
}

TEST(KernelWrappers, InitialOwnerOfAnExistingMutexMustWait) {
    std::string name = uniqueName("initial");
    CMclMutex first(TRUE, name.c_str());
    ChildProcess second([&](ChildProcess&) {
        CMclMutex mine(TRUE, name.c_str());
        return mine.waitFor(0) == WAIT_TIMEOUT && !mine.release() ? 0 : 1;
    });
    EXPECT_EQ(second.wait(), 0);
    EXPECT_TRUE(first.release());
}

TEST(KernelWrappers, DestroyingAnOwnedMutexReleasesRatherThanAbandons) {
    std::string name = uniqueName("destroy");
    CMclMutex watcher(FALSE, name.c_str());
    {
        CMclMutex owner(TRUE, name.c_str());
        owner.waitFor(0);
    }
    // `owner` opened the existing mutex, took it once and released it on destruction.
    EXPECT_EQ(watcher.waitFor(0), WAIT_OBJECT_0);
    EXPECT_TRUE(watcher.release());
}

TEST(KernelWrappers, SemaphoreReleaseWritesPreviousCountOnlyOnSuccess) {
    CMclSemaphore semaphore(1, 2, nullptr);
    LONG previous = -1;
    EXPECT_TRUE(semaphore.release(1, &previous));
    EXPECT_EQ(previous, 1);
    previous = -1;
    EXPECT_FALSE(semaphore.release(1, &previous));
    EXPECT_EQ(previous, -1);
    EXPECT_TRUE(semaphore.waitFor(0) == WAIT_OBJECT_0 && semaphore.release(1));
}

TEST(KernelWrappers, AutoPtrResetToHeldObjectKeepsItAndNullDeletesIt) {
    int destroyed = 0;
    {
        auto* semaphore = new CountedSemaphore(destroyed);
        CMclDerivedAutoPtr<CMclSemaphore> pointer(semaphore);
        pointer.reset(semaphore);
        EXPECT_EQ(destroyed, 0);
        EXPECT_FALSE(pointer.isNull());
        EXPECT_EQ(pointer->getStatus(), ERROR_SUCCESS);
        pointer.reset(new CountedSemaphore(destroyed));
        EXPECT_EQ(destroyed, 1);
        pointer.reset(nullptr);
        EXPECT_EQ(destroyed, 2);
        EXPECT_TRUE(pointer.isNull());
        pointer.reset(new CountedSemaphore(destroyed));
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(KernelWrappers, OpeningASectionWithAnotherSizeMapsTheExistingOne) {
    std::string name = uniqueName("shm");
    CMclSharedMemory created(100, name.c_str());
    EXPECT_TRUE(created.isCreator());
    EXPECT_EQ(created.getStatus(), ERROR_SUCCESS);
    static_cast<char*>(created.getView())[99] = 'z';
    CMclSharedMemory opened(10, name.c_str());
    EXPECT_FALSE(opened.isCreator());
    EXPECT_EQ(opened.getStatus(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(static_cast<char*>(opened.getView())[99], 'z');
}

}  // namespace
