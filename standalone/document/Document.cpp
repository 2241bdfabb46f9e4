// A map document's construction and what callers ask of it; reading and writing live in
// DocumentReader.cpp and DocumentWriter.cpp.
#include "standalone/document/Document.h"

#include "standalone/document/DocumentInternal.h"

namespace crv::standalone {

Document::Document(StandaloneHost& host) : host_(host), contents_(std::make_unique<Contents>()) {}
Document::~Document() = default;

const std::filesystem::path& Document::Path() const { return contents_->path; }
const std::string& Document::Units() const { return contents_->units; }

const ElementStyle& Document::StyleOf(const ComPtr<LayoutElement>& element) const {
    static const ElementStyle none;
    const auto* info = contents_->Find(element);
    return info != nullptr ? info->style : none;
}

const SeriesOrigin* Document::SeriesOriginOf(const ComPtr<LayoutElement>& element) const {
    const auto* info = contents_->Find(element);
    return info != nullptr && info->series ? &*info->series : nullptr;
}

std::vector<commands::BookFiles::File> Document::InputFiles() const {
    std::vector<commands::BookFiles::File> files{{"the map document being read", contents_->path, true}};
    for (const Contents::ElementInfo& info : contents_->elements) {
        if (info.series) files.push_back({"the map series dataset of the document", info.series->dataset});
        if (!info.style.picture.empty()) files.push_back({"a picture of the layout", info.style.picture});
    }
    return files;
}

}  // namespace crv::standalone
