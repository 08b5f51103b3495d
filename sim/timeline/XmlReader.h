#pragma once
// A small reader for the XML the project writes and reads itself (the event manifest, the
// timeline pictures): elements, attributes and character data. Comments, processing
// instructions, CDATA sections and a document type declaration are skipped. Namespace prefixes
// are kept in names; LocalName() drops them.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace timeline {

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes; // values with entities decoded
    std::vector<XmlElement> children;
    std::string text; // character data directly inside the element, entities decoded

    std::string LocalName() const;
    // The attribute's value, or `fallback` when the element has none of that name.
    std::string Attribute(const std::string& key, const std::string& fallback = "") const;
    bool Has(const std::string& key) const;
    // Children whose local name is `local`, in document order.
    std::vector<const XmlElement*> Children(std::string_view local) const;
    const XmlElement* Child(std::string_view local) const;
    // Every element below this one (not this one) whose local name is `local`, depth first.
    void Collect(std::string_view local, std::vector<const XmlElement*>& out) const;
};

// Parses one document. Fails, with a message naming the byte offset, on unbalanced or
// mismatched tags, unquoted or repeated attributes, unknown entities, text outside the root
// element or a second root element.
std::optional<XmlElement> ParseXml(std::string_view document, std::string* error);

// Decodes the five predefined entities and numeric character references.
std::optional<std::string> DecodeXmlText(std::string_view text);

} // namespace timeline
