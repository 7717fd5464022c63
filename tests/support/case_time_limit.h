#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace vantrel::test {

// Ends the test program when one case runs longer than its limit, naming the case, so a
// hang fails in seconds instead of when ctest's limit for the whole program runs out.
// Install once: ::testing::UnitTest::GetInstance()->listeners().Append(new CaseTimeLimit(60s)).
class CaseTimeLimit : public ::testing::EmptyTestEventListener {
public:
    explicit CaseTimeLimit(std::chrono::seconds limit)
        : m_limit(limit)
        , m_watch([this] { watch(); })
    {
    }
    ~CaseTimeLimit() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_watch.join();
    }

    void OnTestStart(const ::testing::TestInfo& info) override
    {
        std::lock_guard lock(m_mutex);
        m_case = std::string(info.test_suite_name()) + "." + info.name();
        m_deadline = std::chrono::steady_clock::now() + m_limit;
        m_running = true;
        m_changed.notify_all();
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        m_changed.notify_all();
    }

private:
    void watch()
    {
        std::unique_lock lock(m_mutex);
        while (!m_done) {
            if (!m_running) {
                m_changed.wait(lock);
                continue;
            }
            if (m_changed.wait_until(lock, m_deadline) == std::cv_status::timeout && m_running
                && std::chrono::steady_clock::now() >= m_deadline) {
                std::fprintf(stderr, "\n%s: still running after %lld s; ended as failed\n", m_case.c_str(),
                    static_cast<long long>(m_limit.count()));
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    std::chrono::seconds m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_case;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_running = false;
    bool m_done = false;
    std::thread m_watch;
};

} // namespace vantrel::test
