// Ends a test program whose case runs past its time limit, naming the case: a hang then fails
// in seconds and says where, instead of when ctest kills the whole program minutes later.
// Linked into a GoogleTest program, it arms itself. VANTREL_CASE_SECONDS sets another limit.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The slowest case runs the real benchmark and a submission: under ten seconds.
constexpr int kDefaultSeconds = 30;

int limitSeconds()
{
    const char* text = std::getenv("VANTREL_CASE_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : kDefaultSeconds;
}

class CaseTimeLimit : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo& info) override
    {
        const std::lock_guard lock(m_mutex);
        m_case = std::string(info.test_suite_name()) + "." + info.name();
        m_deadline = Clock::now() + m_limit;
        ++m_started;
        m_wake.notify_all();
    }

    void OnTestEnd(const testing::TestInfo&) override
    {
        const std::lock_guard lock(m_mutex);
        m_case.clear();
        m_wake.notify_all();
    }

private:
    void watch(std::stop_token stop)
    {
        std::unique_lock lock(m_mutex);
        while (!stop.stop_requested()) {
            if (m_case.empty()) {
                m_wake.wait(lock, stop, [this] { return !m_case.empty(); });
                continue;
            }
            const auto started = m_started;
            if (m_wake.wait_until(
                    lock, stop, m_deadline, [&] { return m_started != started || m_case.empty(); }))
                continue;
            if (stop.stop_requested())
                return;
            std::fprintf(stderr, "\n%s did not finish within %lld s; the test program ends here\n",
                m_case.c_str(), static_cast<long long>(m_limit.count()));
            std::fflush(nullptr);
            std::_Exit(1);
        }
    }

    const std::chrono::seconds m_limit { limitSeconds() };
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::string m_case; // the running case, empty between cases
    Clock::time_point m_deadline;
    unsigned long m_started = 0;
    std::jthread m_watcher { [this](std::stop_token stop) { watch(stop); } };
};

// GoogleTest owns the listener from here on.
const bool installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new CaseTimeLimit);
    return true;
}();

} // namespace
