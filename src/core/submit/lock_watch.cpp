#include "core/submit/lock_watch.h"

#include <algorithm>

namespace vantrel {

void LockWatch::observe(const std::vector<std::string>& names, Duration now)
{
    if (!m_seen || names != m_names) {
        m_names = names;
        m_since = now;
    }
    // One heartbeat hb-X-n, and at most X's stage folder beside it.
    std::string token;
    std::size_t beats = 0;
    for (const std::string& name : names) {
        if (name.rfind("hb-", 0) == 0 && name.size() > 3) {
            ++beats;
            const std::string rest = name.substr(3);
            token = rest.substr(0, rest.rfind('-'));
        }
    }
    const bool valid = beats == 1 && std::all_of(names.begin(), names.end(), [&](const std::string& name) {
        return name == token || name.rfind("hb-" + token + "-", 0) == 0;
    });
    if (valid)
        m_invalidSince.reset();
    else if (!m_invalidSince && !names.empty())
        m_invalidSince = now;
    if (!m_seen || token != m_token) {
        m_token = token;
        m_tokenSince = now;
    }
    m_seen = true;
}

std::optional<std::string> LockWatch::takeOverTarget(Duration now, const SubmitTiming& timing) const
{
    if (!m_seen || m_names.empty())
        return std::nullopt;
    const bool stale = now - m_since >= timing.staleAfter;
    const bool invalid = m_invalidSince && now - *m_invalidSince >= timing.invalidAfter;
    const bool tooLong = !m_token.empty() && now - m_tokenSince >= timing.maxHold;
    if (!stale && !invalid && !tooLong)
        return std::nullopt;
    // The heartbeat, renamed only if the holder has not beaten since; else the first entry.
    std::string target = m_names.front();
    for (const std::string& name : m_names) {
        if (name.rfind("hb-", 0) == 0)
            target = name;
    }
    return target;
}

} // namespace vantrel
