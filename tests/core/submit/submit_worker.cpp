// One submitter for the submission tests: submits COUNT records named NAME, one after
// another, to the results host at WEB and FTP, and exits non-zero if any did not arrive.
// The records' scores are 1 to COUNT; the processor text is PROCESSOR_BYTES long (default 8).
#include "core/submit/submission.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s WEB FTP NAME COUNT [PROCESSOR_BYTES]\n", argv[0]);
        return 2;
    }
    vantrel::SubmitOptions options;
    options.host = { argv[1], argv[2] };
    const std::string name = argv[3];
    const int count = std::atoi(argv[4]);
    const std::string processor(argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 8, 'p');
    int failures = 0;
    for (int i = 1; i <= count; ++i) {
        const vantrel::SubmitResult result
            = vantrel::submitResult({ name, "", "Win XP", processor, static_cast<double>(i) }, options);
        if (result.status != vantrel::SubmitStatus::Submitted) {
            std::fprintf(stderr, "%s record %d: %s\n", name.c_str(), i, result.cause.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
