#include "system/ZnSignal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

using ::testing::KilledBySignal;

TEST(SignalDeathTest, HandlerNamesTheSignalAndAborts) {
  struct Case {
    int number;
    const char* text;  // as a pattern
  };
  const Case cases[] = {
      {1, "hangup\n"},
      {2, "interrupt \\(rubout\\)\n"},
      {11, "Segmentation Fault\n"},
      {13, "Broken Pipe\n"},
      {15, "Terminated\n"},
      {17, "Child Status Changed\n"},
      {20, "Stopped\n"},
      {22, "Stopped\n"},
      {0, ""},
      {7, ""},
      {16, ""},
      {23, ""},
      {64, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EXIT(ZnSignalHandler(c.number), KilledBySignal(SIGABRT),
                "^signal caught: \n" + std::string(c.text) + "$");
  }
}

TEST(SignalDeathTest, CrashSignalsAreReportedOnce) {
  // The abort that ends the report raises SIGABRT, which is handled too.
  EXPECT_EXIT(
      {
        ZnInstallSignalHandlers(true);
        raise(SIGABRT);
      },
      KilledBySignal(SIGABRT), "^signal caught: \nAbort\n$");
  EXPECT_EXIT(
      {
        ZnInstallSignalHandlers(true);
        raise(SIGSEGV);
      },
      KilledBySignal(SIGABRT), "^signal caught: \nSegmentation Fault\n$");
}

TEST(SignalDeathTest, CrashOnlyLeavesTheOtherSignalsAlone) {
  EXPECT_EXIT(
      {
        if (ZnInstallSignalHandlers(true) != SIG_ERR) exit(3);  // SIGKILL is refused
        raise(SIGTERM);
      },
      KilledBySignal(SIGTERM), "^$");
  EXPECT_EXIT(
      {
        signal(SIGTTOU, SIG_IGN);
        if (ZnInstallSignalHandlers(false) != SIG_IGN) exit(3);  // SIGTTOU's previous action
        raise(SIGTERM);
      },
      KilledBySignal(SIGABRT), "^signal caught: \nTerminated\n$");
}

}  // namespace
