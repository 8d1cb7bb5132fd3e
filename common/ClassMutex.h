#pragma once
// An owner-recursive lock with no time-out, created on the first Initialize
// and kept until the process ends. A thread that owns it may Wait again
// without blocking and releases it once per successful Wait.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class CClassMutex {
 public:
  // Result codes of a wait, reported as the error code of a failed Wait.
  static constexpr int32_t kWaitObject0 = 0;
  static constexpr int32_t kWaitFailed = -1;  // 0xFFFFFFFF

  CClassMutex() = default;
  CClassMutex(const CClassMutex&) = delete;
  CClassMutex& operator=(const CClassMutex&) = delete;

  // Creates the mutex unless it already exists. Throws GeneralException
  // "Couldn't create mutex " with the system's error code when it can't.
  void Initialize();

  // Blocks until the calling thread owns the mutex. Throws GeneralException
  // "Couldn't get mutex" with the wait result when the wait does not succeed
  // (the mutex was never created, or the system refuses the lock).
  void Wait();

  // Gives the mutex back; a thread that does not own it changes nothing.
  void Release();

  bool IsInitialized() const { return mCreated.load(); }

  // Owns the mutex for a scope: Wait on construction (throwing as Wait does,
  // in which case nothing is held) and Release on every way out.
  class CGuard {
   public:
    explicit CGuard(CClassMutex& mutex) : mMutex(mutex) { mMutex.Wait(); }
    ~CGuard() { mMutex.Release(); }
    CGuard(const CGuard&) = delete;
    CGuard& operator=(const CGuard&) = delete;

   private:
    CClassMutex& mMutex;
  };

 private:
  std::recursive_mutex mMutex;
  std::atomic<bool> mCreated{false};
  // The owning thread and its depth of recursion, so that a Release by a
  // thread that does not own the mutex can be ignored safely.
  std::atomic<std::thread::id> mOwner{};
  int mDepth = 0;  // touched by the owner only
};
