// SPDX-License-Identifier: Apache-2.0
#include <Kel/Logger.h>

#include "CapturingSink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/common.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing::HasSubstr;
using testing::IsEmpty;

std::string TempFile(const std::string& stem) {
  const std::string path = ::testing::TempDir() + stem + ".log";
  std::remove(path.c_str());
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(Logger, DefaultLoggerExistsOnceTheLibraryIsLoaded) {
  const auto kel = Kel::Logger::Get("Kel");
  ASSERT_NE(kel, nullptr);
  EXPECT_EQ(kel->GetType(), 1);
  EXPECT_EQ(kel->GetName(), "Kel");
  EXPECT_EQ(Kel::Logger::GetConsoleLogger("Kel"), kel);
}

TEST(Logger, NameKeepsTheTypeItWasCreatedWith) {
  const auto console = Kel::Logger::GetConsoleLogger("keeps-type");
  ASSERT_NE(console, nullptr);
  EXPECT_EQ(Kel::Logger::GetConsoleLogger("keeps-type"), console);
  EXPECT_EQ(Kel::Logger::Get("keeps-type"), console);

  testing::internal::CaptureStderr();
  EXPECT_EQ(Kel::Logger::GetFileLogger("keeps-type", TempFile("keeps-type")), nullptr);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());

  testing::internal::CaptureStderr();
  EXPECT_EQ(Kel::Logger::GetConsoleFileLogger("keeps-type", TempFile("keeps-type")), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "The type of existence logger is inconsistent with expected one.\n");
}

TEST(Logger, FileLoggerThenConsoleFileLoggerOfTheSameNameConflicts) {
  const auto file = Kel::Logger::GetFileLogger("file-first", TempFile("file-first"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->GetType(), 2);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Kel::Logger::GetConsoleFileLogger("file-first", TempFile("file-first-2")), nullptr);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("The type of existence logger is inconsistent with expected one."));
  EXPECT_EQ(Kel::Logger::Get("file-first"), file);
}

TEST(Logger, UnknownNameAndBackEndNameClashes) {
  EXPECT_EQ(Kel::Logger::Get("never-created"), nullptr);
  ASSERT_NE(Kel::Logger::GetConsoleFileLogger("pair", TempFile("pair")), nullptr);
  // The console and file logger registered its two helpers with the back end under these names.
  EXPECT_THROW(Kel::Logger::GetConsoleLogger("pair_console_log"), spdlog::spdlog_ex);
  EXPECT_THROW(Kel::Logger::GetFileLogger("pair_file_log", TempFile("other")), spdlog::spdlog_ex);
}

TEST(Logger, LevelsDecideWhatIsWritten) {
  const auto logger = Kel::Logger::GetConsoleLogger("levels");
  ASSERT_NE(logger, nullptr);
  TarnTest::ScopedCapture capture("levels");
  ASSERT_TRUE(capture.Attached());

  EXPECT_EQ(logger->GetLevel(), 2);
  EXPECT_FALSE(logger->ShouldLog(1));
  EXPECT_TRUE(logger->ShouldLog(2));

  logger->SetLevel(4);
  EXPECT_EQ(logger->GetLevel(), 4);
  EXPECT_FALSE(logger->ShouldLog(3));
  EXPECT_TRUE(logger->ShouldLog(4));
  logger->Write(3, "dropped {}", 1);
  logger->Write(4, "kept {} {}", 2, "x");
  logger->Error("error {}", 3);
  logger->Warn("warning {}", 4);

  logger->SetLevel(6);
  EXPECT_FALSE(logger->ShouldLog(5));
  logger->Write(5, "silenced");

  const auto entries = capture.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "kept 2 x");
  EXPECT_EQ(entries[0].level, spdlog::level::err);
  EXPECT_EQ(entries[1].text, "error 3");
}

TEST(Logger, SetAllLevelChangesBackEndsButNotRecordedLevels) {
  const auto console = Kel::Logger::GetConsoleLogger("all-level");
  ASSERT_NE(console, nullptr);
  Kel::Logger::SetAllLevel(0);
  EXPECT_TRUE(console->ShouldLog(0));
  EXPECT_EQ(console->GetLevel(), 2);
  EXPECT_TRUE(Kel::Logger::GetConsoleLogger("created-after")->ShouldLog(0));

  // A console and file logger's own back end is not registered: it starts at info whatever the rest do.
  const auto both = Kel::Logger::GetConsoleFileLogger("all-level-both", TempFile("all-level-both"));
  ASSERT_NE(both, nullptr);
  EXPECT_FALSE(both->ShouldLog(1));
  EXPECT_TRUE(both->ShouldLog(2));
  Kel::Logger::SetAllLevel(2);
}

TEST(Logger, ConsoleFileLoggerAppendsToItsFileAndShowsOnStandardOutput) {
  const std::string path = TempFile("append");
  {
    std::ofstream earlier(path);
    earlier << "earlier line\n";
  }
  const auto logger = Kel::Logger::GetConsoleFileLogger("append", path);
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(logger->GetType(), 8);

  testing::internal::CaptureStdout();
  logger->Write(2, "calibration {} done", 7);
  const std::string shown = testing::internal::GetCapturedStdout();
  EXPECT_THAT(shown, HasSubstr("calibration 7 done"));

  spdlog::get("append_file_log")->flush();
  const std::string content = ReadFile(path);
  EXPECT_EQ(content.rfind("earlier line\n", 0), 0u) << content;
  EXPECT_THAT(content, HasSubstr("calibration 7 done"));
}

// Threads asking for the same new name at once all get the one logger, and none sees an exception;
// levels may change while others write.
TEST(Logger, ConcurrentCallersShareOneLoggerPerName) {
  constexpr int kThreads = 8;
  constexpr int kNames = 200;
  std::vector<std::vector<std::shared_ptr<Kel::Logger>>> got(kThreads,
                                                             std::vector<std::shared_ptr<Kel::Logger>>(kNames));
  std::atomic<int> failures{0};
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kNames; ++n) {
        // Meet the other threads before each name, so that they ask for it at the same moment.
        arrived.fetch_add(1);
        while (arrived.load() < kThreads * (n + 1)) std::this_thread::yield();
        try {
          auto logger = Kel::Logger::GetConsoleLogger("race-" + std::to_string(n));
          logger->SetLevel(6 - (t + n) % 2);
          logger->Write(5, "thread {} name {}", t, n);
          (void)logger->GetLevel();
          got[static_cast<std::size_t>(t)][static_cast<std::size_t>(n)] = logger;
        } catch (...) {
          failures.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (int n = 0; n < kNames; ++n) {
    const auto& first = got[0][static_cast<std::size_t>(n)];
    ASSERT_NE(first, nullptr) << n;
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(got[static_cast<std::size_t>(t)][static_cast<std::size_t>(n)], first);
  }
}

}  // namespace
