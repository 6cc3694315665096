#include "export/xml_document.h"

#include "export/xml_text.h"

namespace mapexport {

namespace {

constexpr std::size_t kFileBuffer = 64 * 1024;

// Markup characters as references; in attribute values also the quote and the white space a
// reader would otherwise normalise. Controls other than those never reach here (XmlText).
void Escape(std::string& out, std::string_view text, bool attribute) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                if (attribute)
                    out += c;
                else
                    out += "&gt;";
                break;
            case '"':
                if (attribute)
                    out += "&quot;";
                else
                    out += c;
                break;
            case '\t':
            case '\n':
            case '\r':
                if (attribute) {
                    out += "&#";
                    out += static_cast<char>('0' + c / 10);
                    out += static_cast<char>('0' + c % 10);
                    out += ';';
                } else {
                    out += c;
                }
                break;
            default:
                out += c;
        }
    }
}

}  // namespace

void XmlOut::Put(std::string_view bytes) {
    if (text_) {
        text_->append(bytes);
        return;
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kFileBuffer) Flush();
}

bool XmlOut::Flush() {
    if (file_ && !buffer_.empty() && !failed_) {
        failed_ = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size();
    }
    buffer_.clear();
    return !failed_;
}

void XmlOut::Indent() {
    for (std::size_t i = 0; i < open_.size(); ++i) Put("  ");
}

void XmlOut::ChildFollows() {
    if (startPending_) Put(">\n");
    startPending_ = false;
}

void XmlOut::Declaration() {
    Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
}

void XmlOut::Open(const char* name, std::initializer_list<Attribute> attributes) {
    ChildFollows();
    Indent();
    std::string start = "<";
    start += name;
    for (const auto& [key, value] : attributes) {
        start += ' ';
        start += key;
        start += "=\"";
        Escape(start, value, true);
        start += '"';
    }
    Put(start);
    open_.push_back(name);
    startPending_ = true;
}

void XmlOut::Close() {
    const char* name = open_.back();
    open_.pop_back();
    if (startPending_) {
        Put(" />\n");
        startPending_ = false;
        return;
    }
    Indent();
    Put("</");
    Put(name);
    Put(">\n");
}

void XmlOut::Text(const char* name, std::string_view text) {
    StartText(name);
    AddText(text);
    EndText(name);
}

void XmlOut::StartText(const char* name) {
    ChildFollows();
    Indent();
    Put("<");
    Put(name);
    Put(">");
}

void XmlOut::AddText(std::string_view piece) {
    std::string escaped;
    Escape(escaped, XmlText(piece), false);
    Put(escaped);
}

void XmlOut::EndText(const char* name) {
    Put("</");
    Put(name);
    Put(">\n");
}

}  // namespace mapexport
