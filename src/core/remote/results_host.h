#pragma once

#include "build_config.h"

#include <string>

namespace vantrel {

// Where the shared results file lives: the web address it is read from and the
// FTP server it is written to, both as host:port without a scheme.
struct ResultsHost {
    std::string web = VANTREL_WEB_HOST;
    std::string ftp = VANTREL_FTP_HOST;
};

} // namespace vantrel
