#pragma once
// Writing SVG elements: escaped text, compact numbers and tags built attribute by attribute.
#include <cstdint>
#include <string>
#include <string_view>

namespace timeline {

// Text and attribute values with &, <, >, " and ' escaped, control characters dropped and
// bytes that are not UTF-8 shown as '?'.
std::string XmlEscape(std::string_view text);
// A coordinate with at most one decimal: "12", "12.5".
std::string Num(double value);

class Tag {
  public:
    explicit Tag(std::string name);
    Tag& Attr(std::string_view key, std::string_view value);
    Tag& Attr(std::string_view key, double value); // as Num
    Tag& Attr(std::string_view key, std::uint64_t value);
    Tag& Attr(std::string_view key, std::int64_t value);
    Tag& Attr(std::string_view key, int value);
    std::string Open() const;  // <name ...>
    std::string Empty() const; // <name .../>
    std::string Close() const; // </name>
    // <name ...>text</name>
    std::string WithText(std::string_view text) const;

  private:
    std::string name_;
    std::string attributes_;
};

} // namespace timeline
