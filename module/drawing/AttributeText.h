// An attribute's text as a reader sees it and as a cell holds it. A multi-line
// attribute keeps its text as MText contents, with format codes ("\P" for a
// paragraph break, "{\fArial|b1;...}" for a font); a cell shows its lines with real
// line breaks and no codes, and an edited cell is written back as contents again.
#pragma once

#include <string>
#include <string_view>

class AcDbAttribute;

namespace tabro {

// The attribute's text: a multi-line attribute's plain text (paragraphs on lines of
// their own), any other's text as stored. False when the attribute gives no text.
bool readAttributeText(const AcDbAttribute& attribute, std::string& text);

// MText contents that read as `text`: backslashes and braces escaped, each line
// break (LF, CR LF or CR) a paragraph break.
std::string mtextContentsOf(std::string_view text);

// Writes a cell's text into the attribute (open for write): a multi-line attribute
// takes it as new contents, keeping its frame, style and width; any other takes it
// as its text, refusing a line break as the host does.
bool writeAttributeText(AcDbAttribute& attribute, const std::string& text);

}  // namespace tabro
