#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The names submitters take turns by, as docs/submission-protocol.md lists them. All are
// relative to the account's starting folder; T is a submission's random token.
namespace vantrel::protocol {

inline constexpr const char* kLock = "compare.lock"; // the turn: its holder's folder
inline constexpr const char* kClaimPrefix = "compare.claim-"; // compare.claim-T-k: T prepares
inline constexpr const char* kTicketPrefix = "compare.q-"; // compare.q-N-T-k: T waits with ticket N
inline constexpr const char* kStalePrefix = "compare.stale-"; // compare.stale-W-j: moved aside by W
// What the project's results host lists in its FEAT answer: it applies an APPE only while the
// session that sends it holds the turn.
inline constexpr std::string_view kFencedAppendFeature = "VANTREL-APPE-IN-TURN";
// ... and that it takes an APPE of whole records at any time, outside every turn: it applies
// each one at the file's end under a lock of its own and names where it landed.
inline constexpr std::string_view kAppendAnytimeFeature = "VANTREL-APPE-ANYTIME";

// 16 random hexadecimal digits.
std::string randomToken();

std::string claimName(const std::string& token, std::uint64_t beat); // compare.claim-T-k
std::string heartbeatName(const std::string& token, std::uint64_t beat); // hb-T-n
std::string inLock(const std::string& name); // compare.lock/name
std::string stagedPath(const std::string& token); // compare.lock/T/next, the file a plain host commits
std::string staleName(const std::string& token, int count); // compare.stale-T-j

// A queue ticket "compare.q-N-T-k": its place (N, then T) and its beat count k.
struct Ticket {
    std::uint64_t number = 0;
    std::string token;
    std::uint64_t beat = 0;
    bool operator<(const Ticket& other) const
    {
        return number != other.number ? number < other.number : token < other.token;
    }
    std::string name() const;
};
std::optional<Ticket> parseTicket(const std::string& name);

// A leftover any submitter may clear away once it stands still: a claim, a ticket, a moved-aside folder.
bool isSubmittersFolder(const std::string& name);

// The names a listing holds, sorted, without the folder some servers put before each.
std::vector<std::string> listedNames(const std::string& listing);

// A decimal number that is the whole text.
std::optional<std::uint64_t> number(std::string_view text);

// "226 Appended 73 bytes at 7300000." gives where an append landed.
std::optional<std::uint64_t> appendedAt(const std::vector<std::string>& replies);

} // namespace vantrel::protocol
