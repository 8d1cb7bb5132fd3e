#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "ClassMutex.h"
#include "GeneralException.h"

namespace {

std::string Output(const GeneralException& exception) {
  std::ostringstream out;
  exception.OutputText(out);
  return out.str();
}

TEST(GeneralException, WritesTextAndNonZeroCodeInLowerCaseHex) {
  EXPECT_EQ(Output(GeneralException("Can't get record storage.", 0)), "Can't get record storage.\n");
  EXPECT_EQ(Output(GeneralException("Iso Read Pipe failed.", 0x4AF)), "Iso Read Pipe failed. Error Code = 0x4af\n");
  EXPECT_EQ(Output(GeneralException("Couldn't get mutex", -1)), "Couldn't get mutex Error Code = 0xffffffff\n");
  // The trailing blank of the creation message makes two blanks before "Error".
  EXPECT_EQ(Output(GeneralException("Couldn't create mutex ", 8)), "Couldn't create mutex  Error Code = 0x8\n");
}

TEST(GeneralException, LeavesTheStreamInDecimal) {
  std::ostringstream out;
  GeneralException("Ovlk_Init failed.", 255).OutputText(out);
  out << 255;
  out << std::hex;
  GeneralException("Iso Read Pipe failed.", 31).OutputText(out);
  out << 31;
  EXPECT_EQ(out.str(), "Ovlk_Init failed. Error Code = 0xff\n255Iso Read Pipe failed. Error Code = 0x1f\n31");
}

TEST(GeneralException, CopiesTextAndCode) {
  GeneralException original("All pipes not attached", 31);
  GeneralException copy(original);
  EXPECT_EQ(copy.Message(), "All pipes not attached");
  EXPECT_EQ(copy.ErrorCode(), 31);
  EXPECT_EQ(Output(copy), Output(original));
}

TEST(ClassMutex, WaitBeforeInitializeFailsWithWaitFailed) {
  CClassMutex mutex;
  try {
    mutex.Wait();
    FAIL() << "Wait on a mutex that was never created must throw";
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.Message(), "Couldn't get mutex");
    EXPECT_EQ(static_cast<uint32_t>(e.ErrorCode()), 0xFFFFFFFFu);
  }
  mutex.Release();  // never throws, even unowned and uncreated
}

TEST(ClassMutex, IsRecursiveForItsOwnerAndExcludesOthers) {
  CClassMutex mutex;
  mutex.Initialize();
  mutex.Initialize();  // a second call keeps the first mutex
  ASSERT_TRUE(mutex.IsInitialized());

  mutex.Wait();
  mutex.Wait();  // the owner may wait again without blocking

  std::atomic<bool> otherHolds{false};
  std::thread other([&] {
    mutex.Release();  // not the owner: ignored
    mutex.Wait();
    otherHolds = true;
    mutex.Release();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(otherHolds.load());
  mutex.Release();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(otherHolds.load()) << "one Release per Wait: still owned once";
  mutex.Release();
  other.join();
  EXPECT_TRUE(otherHolds.load());
}

TEST(ClassMutex, SecondInitializeWhileHeldKeepsTheSameLock) {
  CClassMutex mutex;
  mutex.Initialize();
  mutex.Wait();
  mutex.Initialize();  // must not replace the lock the owner holds
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    mutex.Wait();
    acquired = true;
    mutex.Release();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired.load());
  mutex.Release();
  other.join();
  EXPECT_TRUE(acquired.load());
}

// True when another thread can take the mutex now; it gives it back at once.
bool OtherThreadCanTake(CClassMutex& mutex) {
  bool taken = false;
  std::thread other([&] {
    CClassMutex::CGuard lock(mutex);
    taken = true;
  });
  other.join();
  return taken;
}

TEST(ClassMutexGuard, OnAMutexNeverCreatedThrowsAsWaitDoesAndHoldsNothing) {
  static_assert(!std::is_copy_constructible_v<CClassMutex::CGuard>);
  static_assert(!std::is_copy_assignable_v<CClassMutex::CGuard>);
  CClassMutex mutex;
  try {
    CClassMutex::CGuard lock(mutex);
    FAIL() << "a guard on a mutex that was never created must throw";
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.Message(), "Couldn't get mutex");
    EXPECT_EQ(static_cast<uint32_t>(e.ErrorCode()), 0xFFFFFFFFu);
  }
  mutex.Initialize();
  EXPECT_TRUE(OtherThreadCanTake(mutex));
}

TEST(ClassMutexGuard, ReleasesOncePerGuardOnEveryWayOut) {
  CClassMutex mutex;
  mutex.Initialize();
  {
    CClassMutex::CGuard outer(mutex);
    {
      CClassMutex::CGuard inner(mutex);  // the owner may guard again
    }
    // The inner guard gave back only its own wait: the mutex is still held.
    std::atomic<bool> otherHolds{false};
    std::thread other([&] {
      CClassMutex::CGuard lock(mutex);
      otherHolds = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherHolds.load());
    mutex.Release();  // hand the outer wait back early so the other thread ends
    other.join();
    EXPECT_TRUE(otherHolds.load());
    mutex.Wait();  // balance the outer guard's release
  }
  EXPECT_TRUE(OtherThreadCanTake(mutex));

  // Leaving by an exception releases too, also from a guard held twice.
  EXPECT_THROW(
      {
        CClassMutex::CGuard outer(mutex);
        CClassMutex::CGuard inner(mutex);
        throw std::runtime_error("leave");
      },
      std::runtime_error);
  EXPECT_TRUE(OtherThreadCanTake(mutex));
}

}  // namespace
