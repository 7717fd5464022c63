// One submitter for the submission tests: submits COUNT records named NAME, one after
// another, to the results host at WEB and FTP, and exits non-zero if any did not arrive.
// The records' scores are 1 to COUNT. Options:
//   --processor-bytes N  the processor text's length (default 8)
//   --stale-ms N         how soon this submitter passes a silent lock or ticket by
//   --command-ms N       how long it waits for one command's answer
//   --skewed-clock       its clock leaves out any time the process was stopped, as a
//                        clock does across a suspend
//   --plain              stage and rename the whole file, as on a plain FTP host
//   --copy PATH          keep the local copy there (shared with other programs) instead of
//                        a private one
// Prints "submitted NAME I" or "failed NAME I: cause" for each record, at once.
#include "core/submit/submission.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <thread>

namespace {

using namespace std::chrono;

// A clock that stands still while the process is stopped: a thread that wakes every few
// milliseconds counts any longer gap as time the clock never saw.
class SkewedClock {
public:
    SkewedClock()
        : m_thread([this] {
            auto last = steady_clock::now();
            while (!m_done) {
                std::this_thread::sleep_for(5ms);
                const auto now = steady_clock::now();
                if (now - last > 200ms)
                    m_lost += duration_cast<nanoseconds>(now - last).count();
                last = now;
            }
        })
    {
    }
    ~SkewedClock()
    {
        m_done = true;
        m_thread.join();
    }
    nanoseconds now() const { return steady_clock::now().time_since_epoch() - nanoseconds(m_lost.load()); }

private:
    std::atomic<bool> m_done { false };
    std::atomic<long long> m_lost { 0 };
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    // A test that ends early (its time limit) takes its submitters with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s WEB FTP NAME COUNT [options]\n", argv[0]);
        return 2;
    }
    vantrel::SubmitOptions options;
    options.host = { argv[1], argv[2] };
    const std::string name = argv[3];
    const int count = std::atoi(argv[4]);
    std::size_t processorBytes = 8;
    SkewedClock* skewed = nullptr;
    for (int i = 5; i < argc; ++i) {
        const std::string flag = argv[i];
        const long value = i + 1 < argc ? std::atol(argv[i + 1]) : 0;
        if (flag == "--processor-bytes")
            processorBytes = static_cast<std::size_t>(value), ++i;
        else if (flag == "--stale-ms") {
            options.timing.staleAfter = milliseconds(value);
            options.timing.invalidAfter = milliseconds(value);
            options.timing.lockListEvery = milliseconds(value / 4);
            options.timing.beatEvery = milliseconds(value / 6);
            ++i;
        } else if (flag == "--command-ms")
            options.timing.commandTimeout = milliseconds(value), ++i;
        else if (flag == "--skewed-clock")
            skewed = new SkewedClock;
        else if (flag == "--plain")
            options.plainHost = true;
        else if (flag == "--copy" && i + 1 < argc)
            options.localCopyPath = argv[++i];
    }
    if (skewed)
        options.timing.clock = [skewed] { return skewed->now(); };
    const std::string processor(processorBytes, 'p');
    int failures = 0;
    for (int i = 1; i <= count; ++i) {
        const vantrel::SubmitResult result
            = vantrel::submitResult({ name, "", "Win XP", processor, static_cast<double>(i) }, options);
        if (result.status == vantrel::SubmitStatus::Submitted) {
            std::printf("submitted %s %d\n", name.c_str(), i);
        } else {
            std::printf("failed %s %d: %s\n", name.c_str(), i, result.cause.c_str());
            ++failures;
        }
        std::fflush(stdout);
    }
    delete skewed;
    return failures == 0 ? 0 : 1;
}
