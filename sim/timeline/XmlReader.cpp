// A recursive-descent reader for well-formed XML documents without external entities.
#include "XmlReader.h"

#include <cstdint>

namespace timeline {

std::string XmlElement::LocalName() const {
    std::size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::string XmlElement::Attribute(const std::string& key, const std::string& fallback) const {
    auto it = attributes.find(key);
    return it == attributes.end() ? fallback : it->second;
}

bool XmlElement::Has(const std::string& key) const {
    return attributes.count(key) != 0;
}

std::vector<const XmlElement*> XmlElement::Children(std::string_view local) const {
    std::vector<const XmlElement*> out;
    for (const XmlElement& c : children) {
        if (c.LocalName() == local) {
            out.push_back(&c);
        }
    }
    return out;
}

const XmlElement* XmlElement::Child(std::string_view local) const {
    for (const XmlElement& c : children) {
        if (c.LocalName() == local) {
            return &c;
        }
    }
    return nullptr;
}

void XmlElement::Collect(std::string_view local, std::vector<const XmlElement*>& out) const {
    for (const XmlElement& c : children) {
        if (c.LocalName() == local) {
            out.push_back(&c);
        }
        c.Collect(local, out);
    }
}

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<std::uint32_t> CharacterReference(std::string_view ref) {
    bool hex = !ref.empty() && (ref[0] == 'x' || ref[0] == 'X');
    std::string_view digits = hex ? ref.substr(1) : ref;
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t cp = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        }
        if (d < 0) {
            return std::nullopt;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    }
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    return cp;
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

class Reader {
  public:
    Reader(std::string_view doc, std::string* error) : doc_(doc), error_(error) {}

    std::optional<XmlElement> Document() {
        if (!SkipMisc()) {
            return std::nullopt;
        }
        if (!Peek("<")) {
            return Fail("no root element");
        }
        std::optional<XmlElement> root = Element(0);
        if (!root || !SkipMisc()) {
            return std::nullopt;
        }
        if (pos_ != doc_.size()) {
            return Fail("content after the root element");
        }
        return root;
    }

  private:
    static constexpr int kMaxDepth = 256;

    std::nullopt_t Fail(const std::string& what) {
        if (error_ != nullptr && error_->empty()) {
            *error_ = what + " at byte " + std::to_string(pos_);
        }
        return std::nullopt;
    }

    bool Peek(std::string_view s) const { return doc_.substr(pos_, s.size()) == s; }

    void SkipSpace() {
        while (pos_ < doc_.size() && IsSpace(doc_[pos_])) {
            ++pos_;
        }
    }

    bool SkipPast(std::string_view end) {
        std::size_t at = doc_.find(end, pos_);
        if (at == std::string_view::npos) {
            Fail("unterminated markup");
            return false;
        }
        pos_ = at + end.size();
        return true;
    }

    // Whitespace, comments, processing instructions and a document type outside the root.
    bool SkipMisc() {
        for (;;) {
            SkipSpace();
            if (Peek("<?")) {
                if (!SkipPast("?>")) {
                    return false;
                }
            } else if (Peek("<!--")) {
                if (!SkipPast("-->")) {
                    return false;
                }
            } else if (Peek("<!DOCTYPE")) {
                if (!SkipPast(">")) {
                    return false;
                }
            } else {
                return true;
            }
        }
    }

    std::optional<std::string> Name() {
        std::size_t start = pos_;
        while (pos_ < doc_.size() && IsNameChar(doc_[pos_])) {
            ++pos_;
        }
        if (pos_ == start) {
            Fail("name expected");
            return std::nullopt;
        }
        return std::string(doc_.substr(start, pos_ - start));
    }

    bool Attributes(XmlElement& e) {
        for (;;) {
            std::size_t before = pos_;
            SkipSpace();
            if (Peek("/>") || Peek(">")) {
                return true;
            }
            if (pos_ == before) {
                Fail("space expected before an attribute");
                return false;
            }
            std::optional<std::string> key = Name();
            if (!key) {
                return false;
            }
            SkipSpace();
            if (!Peek("=")) {
                Fail("'=' expected after attribute " + *key);
                return false;
            }
            ++pos_;
            SkipSpace();
            if (pos_ >= doc_.size() || (doc_[pos_] != '"' && doc_[pos_] != '\'')) {
                Fail("quoted value expected for attribute " + *key);
                return false;
            }
            char quote = doc_[pos_++];
            std::size_t end = doc_.find(quote, pos_);
            if (end == std::string_view::npos) {
                Fail("unterminated attribute value");
                return false;
            }
            std::string_view raw = doc_.substr(pos_, end - pos_);
            if (raw.find('<') != std::string_view::npos) {
                Fail("'<' in attribute value");
                return false;
            }
            std::optional<std::string> value = DecodeXmlText(raw);
            if (!value) {
                Fail("bad entity in attribute " + *key);
                return false;
            }
            if (!e.attributes.emplace(*key, *value).second) {
                Fail("repeated attribute " + *key);
                return false;
            }
            pos_ = end + 1;
        }
    }

    bool Text(XmlElement& e) {
        std::size_t end = doc_.find('<', pos_);
        if (end == std::string_view::npos) {
            Fail("unterminated element " + e.name);
            return false;
        }
        std::optional<std::string> text = DecodeXmlText(doc_.substr(pos_, end - pos_));
        if (!text) {
            Fail("bad entity in text");
            return false;
        }
        e.text += *text;
        pos_ = end;
        return true;
    }

    bool Content(XmlElement& e, int depth) {
        for (;;) {
            if (pos_ >= doc_.size()) {
                Fail("unterminated element " + e.name);
                return false;
            }
            if (Peek("</")) {
                pos_ += 2;
                std::optional<std::string> closing = Name();
                if (!closing) {
                    return false;
                }
                if (*closing != e.name) {
                    Fail("</" + *closing + "> closes <" + e.name + ">");
                    return false;
                }
                SkipSpace();
                if (!Peek(">")) {
                    Fail("'>' expected");
                    return false;
                }
                ++pos_;
                return true;
            }
            if (Peek("<!--")) {
                if (!SkipPast("-->")) {
                    return false;
                }
            } else if (Peek("<![CDATA[")) {
                std::size_t start = pos_ + 9;
                if (!SkipPast("]]>")) {
                    return false;
                }
                e.text += std::string(doc_.substr(start, pos_ - 3 - start));
            } else if (Peek("<?")) {
                if (!SkipPast("?>")) {
                    return false;
                }
            } else if (Peek("<")) {
                std::optional<XmlElement> child = Element(depth + 1);
                if (!child) {
                    return false;
                }
                e.children.push_back(std::move(*child));
            } else if (!Text(e)) {
                return false;
            }
        }
    }

    std::optional<XmlElement> Element(int depth) {
        if (depth > kMaxDepth) {
            return Fail("elements nested too deeply");
        }
        ++pos_; // '<'
        XmlElement e;
        std::optional<std::string> name = Name();
        if (!name) {
            return std::nullopt;
        }
        e.name = *name;
        if (!Attributes(e)) {
            return std::nullopt;
        }
        if (Peek("/>")) {
            pos_ += 2;
            return e;
        }
        ++pos_; // '>'
        if (!Content(e, depth)) {
            return std::nullopt;
        }
        return e;
    }

    std::string_view doc_;
    std::string* error_;
    std::size_t pos_ = 0;
};

} // namespace

std::optional<std::string> DecodeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        std::size_t semi = text.find(';', i);
        if (semi == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view ref = text.substr(i + 1, semi - i - 1);
        if (ref == "amp") {
            out += '&';
        } else if (ref == "lt") {
            out += '<';
        } else if (ref == "gt") {
            out += '>';
        } else if (ref == "quot") {
            out += '"';
        } else if (ref == "apos") {
            out += '\'';
        } else if (!ref.empty() && ref[0] == '#') {
            std::optional<std::uint32_t> cp = CharacterReference(ref.substr(1));
            if (!cp) {
                return std::nullopt;
            }
            AppendUtf8(out, *cp);
        } else {
            return std::nullopt;
        }
        i = semi;
    }
    return out;
}

std::optional<XmlElement> ParseXml(std::string_view document, std::string* error) {
    if (error != nullptr) {
        error->clear();
    }
    return Reader(document, error).Document();
}

} // namespace timeline
