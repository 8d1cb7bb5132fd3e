#pragma once
// While an object of this class lives, the thread that made it (and every
// thread it starts meanwhile) is held to the files' permissions even when
// the tests run as root: its capabilities to override them are lowered, and
// raised again at the end. A device node that this user may not open is then
// refused with EACCES, as for a user without the udev rule.
//
// Capabilities are a thread's own: other threads keep theirs.

#include <linux/capability.h>

class CPermissionsHonoured {
 public:
  CPermissionsHonoured();
  ~CPermissionsHonoured();
  CPermissionsHonoured(const CPermissionsHonoured&) = delete;
  CPermissionsHonoured& operator=(const CPermissionsHonoured&) = delete;

  // False when the thread could still override them.
  bool Holds() const { return mHolds; }

 private:
  __user_cap_data_struct mSaved[_LINUX_CAPABILITY_U32S_3] = {};
  bool mLowered = false;
  bool mHolds = false;
};
