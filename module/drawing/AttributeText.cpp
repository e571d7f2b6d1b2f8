#include "module/drawing/AttributeText.h"

#include "host/db/AcDbEntities.h"

#include <memory>

namespace tabro {

bool readAttributeText(const AcDbAttribute& attribute, std::string& text) {
    if (attribute.isMTextAttribute()) {
        if (std::unique_ptr<AcDbMText> mtext(attribute.getMTextAttribute()); mtext) {
            AcutString plain(mtext->text());
            text.assign(plain.get());
            return !plain.isNull();
        }
    }
    AcutString stored(attribute.textString());
    text.assign(stored.get());
    return !stored.isNull();
}

std::string mtextContentsOf(std::string_view text) {
    std::string contents;
    contents.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
        case '{':
        case '}':
            contents += '\\';
            contents += c;
            break;
        case '\r':
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            [[fallthrough]];
        case '\n':
            contents += "\\P";
            break;
        default:
            contents += c;
        }
    }
    return contents;
}

bool writeAttributeText(AcDbAttribute& attribute, const std::string& text) {
    if (attribute.isMTextAttribute()) {
        AcDbMText mtext;
        if (mtext.setContents(mtextContentsOf(text).c_str()) != Acad::eOk) return false;
        return attribute.setMTextAttribute(&mtext) == Acad::eOk;
    }
    return attribute.setTextString(text.c_str()) == Acad::eOk;
}

}  // namespace tabro
