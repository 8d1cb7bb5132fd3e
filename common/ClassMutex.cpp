#include "ClassMutex.h"

#include <system_error>

#include "GeneralException.h"

void CClassMutex::Initialize() {
  // The lock object itself needs no creation step that can fail; marking it
  // created keeps the rule that a mutex must be initialised before use, and a
  // second call keeps the first mutex.
  mCreated.store(true);
}

void CClassMutex::Wait() {
  if (!mCreated.load()) {
    throw GeneralException("Couldn't get mutex", kWaitFailed);
  }
  try {
    mMutex.lock();
  } catch (const std::system_error&) {
    throw GeneralException("Couldn't get mutex", kWaitFailed);
  }
  mOwner.store(std::this_thread::get_id());
  ++mDepth;
}

void CClassMutex::Release() {
  if (!mCreated.load() || mOwner.load() != std::this_thread::get_id()) {
    return;
  }
  if (--mDepth == 0) {
    mOwner.store(std::thread::id());
  }
  mMutex.unlock();
}
