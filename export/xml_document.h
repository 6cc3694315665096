#pragma once
// What the GPX and KML writers share: XML written as it goes, element by element, so that a map
// of any size never sits whole in memory. The layout is fixed: a UTF-8 declaration, elements
// indented by two blanks, an element holding text on one line, one without content closed at
// once ("<trkseg />"), and a line feed after each.
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mapexport {

class XmlOut {
public:
    using Attribute = std::pair<const char*, std::string_view>;

    // Into a string (kept whole), or into a file through a buffer.
    explicit XmlOut(std::string& into) : text_(&into) {}
    explicit XmlOut(std::FILE* into) : file_(into) {}
    ~XmlOut() { Flush(); }
    XmlOut(const XmlOut&) = delete;
    XmlOut& operator=(const XmlOut&) = delete;

    // <?xml version="1.0" encoding="UTF-8"?>
    void Declaration();
    // Starts an element; its content follows until the matching Close.
    void Open(const char* name, std::initializer_list<Attribute> attributes = {});
    void Close();
    // <name>text</name>, the text made fit for XML first.
    void Text(const char* name, std::string_view text);
    // The same in pieces, for a text too long to build first: each piece whole characters.
    void StartText(const char* name);
    void AddText(std::string_view piece);
    void EndText(const char* name);

    // Writes what is buffered; false when a write to the file failed (errno says why).
    bool Flush();

private:
    void ChildFollows();
    void Put(std::string_view bytes);
    void Indent();

    std::string* text_ = nullptr;
    std::FILE* file_ = nullptr;
    std::string buffer_;
    bool failed_ = false;
    std::vector<const char*> open_;
    bool startPending_ = false;  // "<name attr" written, neither ">" nor " />" yet
};

}  // namespace mapexport
