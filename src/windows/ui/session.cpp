#include "windows/ui/session.h"

#include "core/submit/ftp_account.h"

namespace vantrel {

QString Session::localCopyPath() const
{
    return MyPath + QLatin1String(kSharedFileName);
}

} // namespace vantrel
