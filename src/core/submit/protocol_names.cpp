#include "core/submit/protocol_names.h"

#include "core/remote/curl_inet.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <random>

namespace vantrel::protocol {

std::string randomToken()
{
    std::random_device device;
    char text[17];
    std::snprintf(
        text, sizeof text, "%08x%08x", static_cast<unsigned>(device()), static_cast<unsigned>(device()));
    return text;
}

std::string claimName(const std::string& token, std::uint64_t beat)
{
    return kClaimPrefix + token + "-" + std::to_string(beat);
}

std::string heartbeatName(const std::string& token, std::uint64_t beat)
{
    return "hb-" + token + "-" + std::to_string(beat);
}

std::string inLock(const std::string& name)
{
    return std::string(kLock) + "/" + name;
}

std::string stagedPath(const std::string& token)
{
    return inLock(token + "/next");
}

std::string staleName(const std::string& token, int count)
{
    return kStalePrefix + token + "-" + std::to_string(count);
}

std::string Ticket::name() const
{
    return std::string(kTicketPrefix) + std::to_string(number) + "-" + token + "-" + std::to_string(beat);
}

std::optional<Ticket> parseTicket(const std::string& name)
{
    if (name.rfind(kTicketPrefix, 0) != 0)
        return std::nullopt;
    const std::string_view rest = std::string_view(name).substr(std::string_view(kTicketPrefix).size());
    const std::size_t first = rest.find('-');
    const std::size_t last = rest.rfind('-');
    if (first == std::string_view::npos || last == first)
        return std::nullopt;
    const auto place = number(rest.substr(0, first));
    const auto beat = number(rest.substr(last + 1));
    if (!place || !beat || *place > (1ull << 60))
        return std::nullopt;
    return Ticket { *place, std::string(rest.substr(first + 1, last - first - 1)), *beat };
}

bool isSubmittersFolder(const std::string& name)
{
    return name.rfind(kClaimPrefix, 0) == 0 || name.rfind(kTicketPrefix, 0) == 0
        || name.rfind(kStalePrefix, 0) == 0;
}

std::vector<std::string> listedNames(const std::string& listing)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = line.substr(line.find_last_of('/') + 1);
        if (!line.empty() && line != "." && line != "..")
            names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::uint64_t> number(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> appendedAt(const std::vector<std::string>& replies)
{
    const std::optional<std::string> text = replyText(replies, 226);
    if (!text)
        return std::nullopt;
    const std::size_t at = text->rfind(" at ");
    if (at == std::string::npos)
        return std::nullopt;
    std::string digits;
    for (std::size_t i = at + 4; i < text->size() && std::isdigit(static_cast<unsigned char>((*text)[i]));
         ++i)
        digits += (*text)[i];
    return number(digits);
}

} // namespace vantrel::protocol
