// main() for the tests that run under Wine, and on Windows from the test package.
//
// The first line names the platform. The program ends itself at its time limit
// (TOVREL_TIME_LIMIT_S) with exit code 124, naming the case that ran; on Windows the cases of a
// run that sets one of Wine's knobs are skipped with the reason (TestProgram.hpp).
//
// GoogleTest's console printer also sends each failure to OutputDebugStringA, which raises a
// debug-print exception. Where Wine's 32-bit side runs under user-mode emulation, that exception
// kills the process after the first failure, and every later message is lost. This printer
// forwards every event to the default one but prints failures itself, to the console only.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "TestProgram.hpp"

namespace tovrel {
namespace {

class ConsoleOnlyPrinter : public testing::TestEventListener {
 public:
  explicit ConsoleOnlyPrinter(testing::TestEventListener* inner) : inner_(inner) {}

  void OnTestProgramStart(const testing::UnitTest& u) override { inner_->OnTestProgramStart(u); }
  void OnTestIterationStart(const testing::UnitTest& u, int i) override {
    inner_->OnTestIterationStart(u, i);
  }
  void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override {
    inner_->OnEnvironmentsSetUpStart(u);
  }
  void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override {
    inner_->OnEnvironmentsSetUpEnd(u);
  }
  void OnTestSuiteStart(const testing::TestSuite& s) override { inner_->OnTestSuiteStart(s); }
  void OnTestStart(const testing::TestInfo& t) override {
    inner_->OnTestStart(t);
    const std::string name = std::string(t.test_suite_name()) + "." + t.name();
    test::CaseRunning(name.c_str());
    // The result is the case's now: a skip here keeps its body from running.
    if (const char* why = test::WhyOnlyUnderWine(); why != nullptr) GTEST_SKIP() << why;
  }
  void OnTestPartResult(const testing::TestPartResult& r) override {
    if (r.type() == testing::TestPartResult::kSuccess) return;
    std::printf("%s:%d: %s\n%s\n", r.file_name() ? r.file_name() : "unknown file", r.line_number(),
                r.skipped() ? "Skipped" : "Failure", r.message());
    std::fflush(stdout);
  }
  void OnTestEnd(const testing::TestInfo& t) override {
    test::CaseRunning(nullptr);
    inner_->OnTestEnd(t);
  }
  void OnTestSuiteEnd(const testing::TestSuite& s) override { inner_->OnTestSuiteEnd(s); }
  void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override {
    inner_->OnEnvironmentsTearDownStart(u);
  }
  void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override {
    inner_->OnEnvironmentsTearDownEnd(u);
  }
  void OnTestIterationEnd(const testing::UnitTest& u, int i) override {
    inner_->OnTestIterationEnd(u, i);
  }
  void OnTestProgramEnd(const testing::UnitTest& u) override { inner_->OnTestProgramEnd(u); }

 private:
  std::unique_ptr<testing::TestEventListener> inner_;
};

}  // namespace
}  // namespace tovrel

int main(int argc, char** argv) {
  tovrel::test::PrepareTheRun();
  std::printf("%s\n", tovrel::test::PlatformLine().c_str());
  std::fflush(stdout);
  testing::InitGoogleTest(&argc, argv);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  listeners.Append(
      new tovrel::ConsoleOnlyPrinter(listeners.Release(listeners.default_result_printer())));
  const int result = RUN_ALL_TESTS();
  tovrel::test::RestoreTheSystem();
  return result;
}
