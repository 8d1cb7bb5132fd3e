#include "ThreadName.h"

#include <pthread.h>

#include <cstring>

void NameThisThread(const char* name) {
  char shortened[16];
  std::strncpy(shortened, name, sizeof shortened - 1);
  shortened[sizeof shortened - 1] = '\0';
  pthread_setname_np(pthread_self(), shortened);
}
