// SVG element text.
#include "Svg.h"

#include <cmath>
#include <cstdio>

namespace timeline {

namespace {

// The length of the well-formed UTF-8 sequence at `i`, 0 if there is none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    if (n == 0 || i + n > text.size() || (n == 2 && c < 0xC2) || (n == 4 && c > 0xF4)) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

} // namespace

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += '?'; // bytes that are not UTF-8 would make the document unreadable
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
            i += n - 1;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            // XML 1.0 allows no control characters but tab, line feed and carriage return.
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
                out += c;
            }
            break;
        }
    }
    return out;
}

std::string Num(double value) {
    double rounded = std::round(value * 10.0) / 10.0;
    if (rounded == 0.0) {
        return "0"; // no "-0"
    }
    char text[32];
    if (rounded == std::floor(rounded)) {
        std::snprintf(text, sizeof text, "%.0f", rounded);
    } else {
        std::snprintf(text, sizeof text, "%.1f", rounded);
    }
    return text;
}

Tag::Tag(std::string name) : name_(std::move(name)) {}

Tag& Tag::Attr(std::string_view key, std::string_view value) {
    attributes_ += " ";
    attributes_ += key;
    attributes_ += "=\"";
    attributes_ += XmlEscape(value);
    attributes_ += "\"";
    return *this;
}

Tag& Tag::Attr(std::string_view key, double value) {
    return Attr(key, std::string_view(Num(value)));
}

Tag& Tag::Attr(std::string_view key, std::uint64_t value) {
    return Attr(key, std::string_view(std::to_string(value)));
}

Tag& Tag::Attr(std::string_view key, std::int64_t value) {
    return Attr(key, std::string_view(std::to_string(value)));
}

Tag& Tag::Attr(std::string_view key, int value) {
    return Attr(key, std::string_view(std::to_string(value)));
}

std::string Tag::Open() const {
    return "<" + name_ + attributes_ + ">";
}

std::string Tag::Empty() const {
    return "<" + name_ + attributes_ + "/>";
}

std::string Tag::Close() const {
    return "</" + name_ + ">";
}

std::string Tag::WithText(std::string_view text) const {
    return Open() + XmlEscape(text) + Close();
}

} // namespace timeline
