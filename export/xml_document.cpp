#include "export/xml_document.h"

#include "export/xml_text.h"

namespace mapexport {

namespace {
class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, size_t size) override {
        out_.append(static_cast<const char*>(data), size);
    }

private:
    std::string& out_;
};
}  // namespace

void StartDocument(pugi::xml_document& doc) {
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
}

pugi::xml_node AddText(pugi::xml_node parent, const char* name, std::string_view text) {
    pugi::xml_node node = parent.append_child(name);
    node.text().set(XmlText(text).c_str());
    return node;
}

std::string Serialize(const pugi::xml_document& doc) {
    std::string out;
    StringWriter writer(out);
    doc.save(writer, "  ", pugi::format_indent, pugi::encoding_utf8);
    return out;
}

}  // namespace mapexport
