#include "score/note_values.h"

#include <charconv>

namespace smfasm::score {

namespace {

// Each value as a fraction of a quarter note's ticks: plain, dotted (x 3/2)
// and triplet (x 2/3) values, tried in that order.
struct value_form {
    std::int64_t times;
    std::int64_t over;
    const char* suffix;
};
constexpr value_form forms[] = {{1, 1, ""}, {3, 2, "."}, {2, 3, "t"}};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string note_value_text(std::int64_t ticks, int division) {
    // The longest value is a dotted whole note.
    if (division <= 0 || ticks <= 0 || ticks > std::int64_t{6} * division) return {};
    for (const value_form& form : forms) {
        // ticks = 4 x division x times / (denominator x over): the
        // denominator is that quotient, when it is a power of two to 64.
        const std::int64_t whole = std::int64_t{4} * division * form.times;
        const std::int64_t per = ticks * form.over;
        if (whole % per != 0) continue;
        const std::int64_t denominator = whole / per;
        if (denominator >= 1 && denominator <= 64 && (denominator & (denominator - 1)) == 0) {
            return "1/" + std::to_string(denominator) + form.suffix;
        }
    }
    return {};
}

int read_note_value(std::string_view text, int division, std::int64_t& ticks) {
    std::size_t i = 0;
    std::int64_t count = 0;
    while (i < text.size() && is_digit(text[i]) && i < 9) count = count * 10 + (text[i++] - '0');
    if (i == 0 || i >= text.size() || text[i] != '/') return 0;
    const std::size_t over_at = ++i;
    std::int64_t denominator = 0;
    while (i < text.size() && is_digit(text[i]) && i - over_at < 3) denominator = denominator * 10 + (text[i++] - '0');
    if (i == over_at || denominator == 0 || denominator > 64 || (denominator & (denominator - 1)) != 0) return 0;
    const value_form* form = &forms[0];
    if (i < text.size() && text[i] == '.') {
        form = &forms[1];
        ++i;
    } else if (i < text.size() && text[i] == 't') {
        form = &forms[2];
        ++i;
    }
    if (division <= 0) return -1;
    const std::int64_t numerator = count * 4 * division * form->times;
    const std::int64_t over = denominator * form->over;
    if (count == 0 || numerator % over != 0) return -1;
    ticks = numerator / over;
    return static_cast<int>(i);
}

std::int64_t per_quarter_of_bpm(std::int64_t scaled, std::int64_t scale) {
    if (scaled <= 0) return 0;
    return (std::int64_t{120000000} * scale + scaled) / (2 * scaled);
}

std::string bpm_text(std::int64_t per_quarter) {
    if (per_quarter <= 0) return {};
    std::int64_t scale = 1;
    for (int decimals = 0; decimals <= 2; ++decimals, scale *= 10) {
        const std::int64_t scaled = (std::int64_t{120000000} * scale + per_quarter) / (2 * per_quarter);
        if (scaled <= 0 || per_quarter_of_bpm(scaled, scale) != per_quarter) continue;
        std::string text = std::to_string(scaled / scale);
        if (decimals > 0) {
            std::string fraction = std::to_string(scaled % scale + scale).substr(1);
            text += "." + fraction;
        }
        return text;
    }
    return {};
}

std::string bpm_comment(std::int64_t per_quarter) {
    if (per_quarter <= 0) return {};
    // Four decimals: the tempo is no round number of beats, or it would be
    // written as one, and two decimals could show it as one all the same.
    const std::int64_t scaled = (std::int64_t{1200000000000} + per_quarter) / (2 * per_quarter);
    // Written by hand rather than by snprintf, which costs a tempo line as
    // much as a thousand others in a file of changing tempos.
    char text[32];
    char* p = std::to_chars(text, text + 24, scaled / 10000).ptr;
    *p++ = '.';
    for (std::int64_t place = 1000, rest = scaled % 10000; place > 0; place /= 10) {
        *p++ = static_cast<char>('0' + rest / place % 10);
    }
    return {text, static_cast<std::size_t>(p - text)};
}

}  // namespace smfasm::score
