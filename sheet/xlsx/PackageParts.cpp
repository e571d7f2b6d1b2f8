#include "sheet/xlsx/PackageParts.h"

#include "sheet/xlsx/XmlReader.h"

#include <set>

namespace sheet::xlsx {
namespace {

class ContentTypesReader : public XmlReader {
public:
    TypeList defaults, overrides;

private:
    void onStart(const XmlElement& e) override {
        if (e.depth == 1 && e.name != "Types") fail("the root element is <" + std::string(e.name) + ">, not <Types>");
        if (e.depth != 2) return;
        const auto* type = e.attr("ContentType");
        if (e.name == "Default") {
            const auto* ext = e.attr("Extension");
            if (!ext || !type) fail("a default content type lacks its extension or type");
            defaults.emplace_back(std::string(*ext), std::string(*type));
        } else if (e.name == "Override") {
            const auto* part = e.attr("PartName");
            if (!part || !type) fail("a content type override lacks its part name or type");
            overrides.emplace_back(std::string(*part), std::string(*type));
        }
    }
    void onEnd(std::string_view, std::string_view, int, std::size_t) override {}
};

class RelationshipsReader : public XmlReader {
public:
    std::vector<Relationship> rels;

private:
    void onStart(const XmlElement& e) override {
        if (e.depth == 1 && e.name != "Relationships")
            fail("the root element is <" + std::string(e.name) + ">, not <Relationships>");
        if (e.depth != 2 || e.name != "Relationship") return;
        const auto* id = e.attr("Id");
        const auto* type = e.attr("Type");
        const auto* target = e.attr("Target");
        if (!id || !type || !target) fail("a relationship lacks its id, type or target");
        const auto* mode = e.attr("TargetMode");
        rels.push_back({std::string(*id), std::string(*type), std::string(*target), mode ? std::string(*mode) : ""});
    }
    void onEnd(std::string_view, std::string_view, int, std::size_t) override {}
};

}  // namespace

void readContentTypes(std::string_view xml, const ReadLimits& limits, TypeList& defaults, TypeList& overrides) {
    ContentTypesReader reader;
    reader.parse(xml, "[Content_Types].xml", limits.maxXmlDepth);
    defaults = std::move(reader.defaults);
    overrides = std::move(reader.overrides);
}

std::string writeContentTypes(const TypeList& defaults, const TypeList& overrides) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    for (const auto& [ext, type] : defaults) {
        out += "<Default Extension=\"";
        appendEscapedAttribute(out, ext);
        out += "\" ContentType=\"";
        appendEscapedAttribute(out, type);
        out += "\"/>";
    }
    for (const auto& [part, type] : overrides) {
        out += "<Override PartName=\"";
        appendEscapedAttribute(out, part);
        out += "\" ContentType=\"";
        appendEscapedAttribute(out, type);
        out += "\"/>";
    }
    out += "</Types>";
    return out;
}

std::vector<Relationship> readRelationships(std::string_view xml, const std::string& partName,
                                            const ReadLimits& limits) {
    RelationshipsReader reader;
    reader.parse(xml, partName, limits.maxXmlDepth);
    return std::move(reader.rels);
}

std::string writeRelationships(const std::vector<Relationship>& rels) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const auto& r : rels) {
        out += "<Relationship Id=\"";
        appendEscapedAttribute(out, r.id);
        out += "\" Type=\"";
        appendEscapedAttribute(out, r.type);
        out += "\" Target=\"";
        appendEscapedAttribute(out, r.target);
        out += '"';
        if (!r.targetMode.empty()) {
            out += " TargetMode=\"";
            appendEscapedAttribute(out, r.targetMode);
            out += '"';
        }
        out += "/>";
    }
    out += "</Relationships>";
    return out;
}

std::string resolveTarget(const std::string& sourcePart, const std::string& target) {
    std::string path;
    if (!target.empty() && target.front() == '/') {
        path = target.substr(1);
    } else {
        auto slash = sourcePart.rfind('/');
        path = (slash == std::string::npos ? "" : sourcePart.substr(0, slash + 1)) + target;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string seg = path.substr(start, end - start);
        if (seg == "..") {
            if (parts.empty())
                throw XlsxError("relationship target " + quotedInput(target) + " of " + sourcePart +
                                " leaves the package");
            parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

std::string relsPartOf(const std::string& part) {
    auto slash = part.rfind('/');
    std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    return folder + "_rels/" + name + ".rels";
}

std::string relativeTarget(const std::string& from, const std::string& to) {
    auto slash = from.rfind('/');
    std::string folder = slash == std::string::npos ? "" : from.substr(0, slash + 1);
    if (to.compare(0, folder.size(), folder) == 0) return to.substr(folder.size());
    // Up one level per folder of `from` beyond the common start.
    std::size_t common = 0;
    for (std::size_t i = 0; i < folder.size() && i < to.size() && folder[i] == to[i]; ++i)
        if (folder[i] == '/') common = i + 1;
    std::string out;
    for (std::size_t i = common; i < folder.size(); ++i)
        if (folder[i] == '/') out += "../";
    return out + to.substr(common);
}

std::string freeRelationshipId(const std::vector<Relationship>& rels) {
    std::set<std::string> used;
    for (const auto& r : rels) used.insert(r.id);
    for (int n = 1;; ++n) {
        std::string id = "rId" + std::to_string(n);
        if (!used.count(id)) return id;
    }
}

}  // namespace sheet::xlsx
