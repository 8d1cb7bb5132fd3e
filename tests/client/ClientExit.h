#pragma once
// What a client run as a process leaves when a signal ends it in order.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <string>

#include "ClientProcess.h"

// It exits with status 0 within a minute, after the port's clean-up ran:
// the program came to the end of its exit processing.
inline void ExpectCleanExit(CClientProcess& client) {
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(std::chrono::seconds(60), status)) << "still running";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0) << client.Errors();
  EXPECT_NE(client.Errors().find("Clean Port.\n"), std::string::npos) << client.Errors();
}

// Once it was running (`running`, a line it printed then), both workers
// stopped, in either order, before the main thread's clean-up, and the
// controller's clean-up followed.
inline void ExpectShutdownInOrder(const std::string& out, const std::string& running) {
  const size_t ran = out.find(running);
  ASSERT_NE(ran, std::string::npos) << out;
  const size_t cleanUp = out.find("Thread Done. Clean up...\n", ran);
  ASSERT_NE(cleanUp, std::string::npos) << out;
  for (const char* line : {"View Thread Done....\n", "Control Thread Done....\n"}) {
    const size_t found = out.find(line, ran);
    EXPECT_LT(found, cleanUp) << line << "\n" << out;
  }
  EXPECT_NE(out.find("Removed cleanup start \n", cleanUp), std::string::npos) << out;
}
