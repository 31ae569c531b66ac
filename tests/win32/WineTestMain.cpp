// main() for the tests that run under Wine.
//
// GoogleTest's console printer also sends each failure to OutputDebugStringA, which raises a
// debug-print exception. Where Wine's 32-bit side runs under user-mode emulation, that exception
// kills the process after the first failure, and every later message is lost. This printer
// forwards every event to the default one but prints failures itself, to the console only.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "CrashReport.hpp"

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
  void OnTestStart(const testing::TestInfo& t) override { inner_->OnTestStart(t); }
  void OnTestPartResult(const testing::TestPartResult& r) override {
    if (r.type() == testing::TestPartResult::kSuccess) return;
    std::printf("%s:%d: %s\n%s\n", r.file_name() ? r.file_name() : "unknown file", r.line_number(),
                r.skipped() ? "Skipped" : "Failure", r.message());
    std::fflush(stdout);
  }
  void OnTestEnd(const testing::TestInfo& t) override { inner_->OnTestEnd(t); }
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

int main(int argc, char** argv) {
  tovrel::probe::EndAtOnceOnCrashWhereEmulated();
  testing::InitGoogleTest(&argc, argv);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  listeners.Append(new ConsoleOnlyPrinter(listeners.Release(listeners.default_result_printer())));
  return RUN_ALL_TESTS();
}
