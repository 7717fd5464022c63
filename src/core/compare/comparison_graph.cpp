#include "core/compare/comparison_graph.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace vantrel {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Walks text with blanks skipped, so "1 000" reads as 1000.
class BlankSkippingReader {
public:
    explicit BlankSkippingReader(std::string_view text)
        : m_text(text)
    {
    }

    char peek()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }
    void advance() { ++m_pos; }
    std::size_t position() const { return m_pos; }
    void rewind(std::size_t position) { m_pos = position; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

double clampWidth(double width, std::int32_t fullWidth)
{
    if (std::isnan(width) || width < 0)
        return 0;
    return width > fullWidth ? fullWidth : width;
}

} // namespace

double LeadingNumber(std::string_view text)
{
    BlankSkippingReader reader(text);
    std::string number;
    bool negative = false;
    if (char c = reader.peek(); c == '+' || c == '-') {
        negative = c == '-';
        reader.advance();
    }
    std::size_t digits = 0;
    while (isDigit(reader.peek())) {
        number += reader.peek();
        reader.advance();
        ++digits;
    }
    if (reader.peek() == '.') {
        reader.advance();
        number += '.';
        while (isDigit(reader.peek())) {
            number += reader.peek();
            reader.advance();
            ++digits;
        }
    }
    if (digits == 0)
        return 0;

    // An exponent counts only when digits follow it: "12E" is 12.
    if (char c = reader.peek(); c == 'E' || c == 'e' || c == 'D' || c == 'd') {
        const std::size_t mark = reader.position();
        std::string exponent = "e";
        reader.advance();
        if (char sign = reader.peek(); sign == '+' || sign == '-') {
            exponent += sign;
            reader.advance();
        }
        bool any = false;
        while (isDigit(reader.peek())) {
            exponent += reader.peek();
            reader.advance();
            any = true;
        }
        if (any)
            number += exponent;
        else
            reader.rewind(mark);
    }

    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // from_chars leaves value alone on overflow and underflow; tell them apart
        // by the exponent's sign.
        const bool tiny = number.find("e-") != std::string::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    (void)end;
    return negative ? -value : value;
}

std::int32_t FullBarWidth(double designWidth)
{
    // nearbyint rounds ties to even in the default rounding mode.
    return static_cast<std::int32_t>(std::nearbyint(designWidth));
}

BarWidths ComparisonBarWidths(double own, double selected, std::int32_t fullWidth, BarWidths current)
{
    BarWidths widths = current;
    const double full = fullWidth;
    if (selected > own) {
        widths.selected = static_cast<float>(full);
        widths.yours = static_cast<float>(clampWidth((own / selected) * full, fullWidth));
    }
    if (selected < own) {
        widths.yours = static_cast<float>(full);
        widths.selected = static_cast<float>(clampWidth((selected / own) * full, fullWidth));
    }
    if (selected == own) {
        widths.yours = static_cast<float>(full);
        widths.selected = static_cast<float>(full);
    }
    return widths;
}

float ValueLabelLeft(float shapeLeft, float shapeWidth, float labelWidth)
{
    const double end = static_cast<double>(shapeLeft) + static_cast<double>(shapeWidth);
    return static_cast<float>(end - static_cast<double>(labelWidth) / 1.5);
}

} // namespace vantrel
