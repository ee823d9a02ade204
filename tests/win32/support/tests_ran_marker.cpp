// Says, at the end of a test program, how many tests it ran and how many
// failed. Under Wine a program that never started can still end with status
// 0, so the Windows test runs pass a program on this line, not on its status.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class TestsRanMarker : public ::testing::EmptyTestEventListener {
    void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
        if (unit.test_to_run_count() == 0) {
            return;
        }
        std::printf("ZELP-TESTS-RAN %d tests, %d failed, %d skipped\n", unit.test_to_run_count(),
                    unit.failed_test_count(), unit.skipped_test_count());
        std::fflush(stdout);
    }
};

// Installed before main(), so that it reaches programs whose main() is
// GoogleTest's own.
const bool g_bMarkerInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestsRanMarker);
    return true;
}();

}  // namespace
