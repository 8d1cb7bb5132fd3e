#pragma once
// Names the calling thread as the system shows it (top -H, /proc/PID/task/
// TID/comm, a debugger), so that a per-thread breakdown of the client's CPU
// time says which thread is which. Linux keeps the first 15 characters.

void NameThisThread(const char* name);
