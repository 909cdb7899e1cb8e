#include "asm/messages.h"

#include <cstring>

namespace smfasm {

namespace {

bool continues_character(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where a cut at `p` lands without splitting a UTF-8 character.
const char* character_start(const char* p, const char* begin) {
    while (p > begin && continues_character(*p)) --p;
    return p;
}

}  // namespace

bool message_log::count(bool& warning) {
    if (warning && strict_) warning = false;
    if (warning) return ++warnings_ <= max_reported_errors;
    if (errors_ >= max_reported_errors) return false;
    ++errors_;
    return true;
}

void message_log::record(bool warning, long long line, long long column, std::string_view text) {
    if (collected_ != nullptr) collected_->push_back({warning, line, column, std::string(text)});
}

void message_log::head(std::string& out, bool warning, long long line, long long column, std::string_view text) const {
    out += name_;
    if (line > 0) out += ':' + std::to_string(line);
    if (line > 0 && column > 0) out += ':' + std::to_string(column);
    out += warning ? ": warning: " : ": ";
    out += text;
}

void message_log::add(long long line, long long column, std::string_view text, bool warning) {
    if (!count(warning)) return;
    record(warning, line, column, text);
    if (out_ == nullptr) return;
    std::string out;
    head(out, warning, line, column, text);
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), out_);
}

void message_log::add(const listing_line& line, const char* at, std::string_view text, bool warning) {
    if (!count(warning)) return;
    if (at == nullptr || at < line.begin) at = line.begin;
    if (at > line.end) at = line.end;
    // The physical line holding `at`, and its column.
    long long number = line.number;
    const char* physical = line.begin;
    for (const char* p = line.begin; (p = static_cast<const char*>(std::memchr(p, '\n', at - p))) != nullptr;) {
        ++number;
        physical = ++p;
    }
    const auto* found = static_cast<const char*>(std::memchr(physical, '\n', line.end - physical));
    const char* physical_end = found != nullptr ? found : line.end;
    if (physical_end > physical && physical_end[-1] == '\r') --physical_end;
    const long long column = at - physical + 1;
    record(warning, number, column, text);
    if (out_ == nullptr) return;

    // A window of the line around the fault, cut on character boundaries.
    const char* from = physical;
    const char* to = physical_end;
    if (to - from > static_cast<std::ptrdiff_t>(shown_line_width)) {
        const std::ptrdiff_t before = shown_line_width * 3 / 5;
        from = at - physical > before ? at - before : physical;
        to = physical_end - from > static_cast<std::ptrdiff_t>(shown_line_width) ? from + shown_line_width
                                                                                 : physical_end;
        if (to == physical_end) from = physical_end - shown_line_width;
        from = character_start(from, physical);
        to = character_start(to, from);
    }
    constexpr std::string_view cut = "...";
    std::string out;
    head(out, warning, number, column, text);
    out += '\n';
    if (from != physical) out += cut;
    out.append(from, to);
    if (to != physical_end) out += cut;
    out += '\n';
    // The caret stands under the fault's character: tabs are kept, and a
    // character of several bytes takes one column.
    if (from != physical) out.append(cut.size(), ' ');
    for (const char* p = from; p < at && p < to; ++p) {
        if (!continues_character(*p)) out += *p == '\t' ? '\t' : ' ';
    }
    out += "^\n";
    std::fwrite(out.data(), 1, out.size(), out_);
}

void message_log::finish() {
    if (out_ == nullptr) return;
    std::string out;
    if (errors_ >= max_reported_errors)
        out += std::string(name_) + ": stopped after " + std::to_string(errors_) + " errors\n";
    if (warnings_ > max_reported_errors) {
        out += std::string(name_) + ": " + std::to_string(warnings_ - max_reported_errors) + " more warning" +
               (warnings_ - max_reported_errors == 1 ? "" : "s") + " not shown\n";
    }
    std::fwrite(out.data(), 1, out.size(), out_);
}

}  // namespace smfasm
