#include "commands/OutputCheck.h"

#include "support/FileIdentity.h"
#include "support/MessageText.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace crv::commands {

namespace fs = std::filesystem;
using support::FileIdentity;
using support::IdentityOf;

namespace {

[[noreturn]] void Refuse(const std::string& option, const fs::path& path, const std::string& why) {
    throw OutputRefused(option + " " + support::QuotedValue(path.string()) + ": " + why + "; nothing was written");
}

// The book page and the layout page whose picture has that name; nothing for another name.
std::optional<std::pair<int32_t, int>> PicturePage(const std::string& name) {
    if (name.size() < 9 || name.rfind("page-", 0) != 0 || name.substr(name.size() - 4) != ".png") return {};
    const char* const end = name.data() + name.size() - 4;
    int32_t page = 0;
    int layoutPage = 1;
    const auto [at, ec] = std::from_chars(name.data() + 5, end, page);
    if (ec != std::errc()) return {};
    if (at != end && (*at != '-' || std::from_chars(at + 1, end, layoutPage).ptr != end)) return {};
    // Only the names pictures are written by: page-1.png or page-001-1.png is no page's.
    if (PagePictureName(page, layoutPage) != name) return {};
    return std::pair{page, layoutPage};
}

}  // namespace

std::string PagePictureName(int32_t page, int layoutPage) {
    char name[48];
    if (layoutPage <= 1)
        std::snprintf(name, sizeof name, "page-%03d.png", page);
    else
        std::snprintf(name, sizeof name, "page-%03d-%d.png", page, layoutPage);
    return name;
}

void MakeOutputFolders(const BookFiles& files) {
    for (const BookFiles::File& output : files.outputs) {
        if (output.path.has_parent_path()) support::MakeOutputFolder(output.what, output.path.parent_path());
    }
    if (files.png) support::MakeOutputFolder("--png", *files.png);
}

void CheckOutputs(const BookFiles& files, const std::function<void(const BookFiles::File& output)>& hostCheck) {
    std::vector<FileIdentity> inputs;
    for (const BookFiles::File& in : files.inputs) inputs.push_back(IdentityOf(in.path));
    std::vector<FileIdentity> outputs;
    for (const BookFiles::File& f : files.outputs) {
        const FileIdentity id = IdentityOf(f.path);
        if (id.exists && !id.regular) Refuse(f.what, f.path, "not a regular file");
        if (hostCheck) hostCheck(f);
        for (size_t i = 0; i < inputs.size(); ++i) {
            const bool savingInPlace = f.what == "--save" && files.inputs[i].saved_in_place;
            if (id == inputs[i] && !savingInPlace) Refuse(f.what, f.path, "that is " + files.inputs[i].what);
        }
        for (size_t j = 0; j < outputs.size(); ++j) {
            if (id != outputs[j]) continue;
            const std::string& earlier = files.outputs[j].what;
            Refuse(f.what, f.path,
                   files.wording == BookFiles::Wording::SameFileAs ? "the same file as " + earlier
                                                                   : "that is the " + earlier + " file");
        }
        outputs.push_back(id);
    }
    if (!files.png) return;
    const fs::path& png = *files.png;
    const FileIdentity folder = IdentityOf(png);
    if (folder.exists && !folder.folder) Refuse("--png", png, "not a folder");
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (folder == inputs[i]) Refuse("--png", png, "that is " + files.inputs[i].what);
    }
    // A page picture must not replace an input or another output that lies in the same folder.
    std::vector<BookFiles::File> others = files.inputs;
    others.insert(others.end(), files.outputs.begin(), files.outputs.end());
    for (const BookFiles::File& o : others) {
        const fs::path p = support::WithoutTrailingSlash(o.path);
        const std::string name = p.filename().string();
        const auto page = PicturePage(name);
        if (!page || !files.png_pages.Contains(page->first) || page->second > files.png_layout_pages) continue;
        if (IdentityOf(p.has_parent_path() ? p.parent_path() : fs::path(".")) == folder) {
            Refuse("--png", png,
                   "its page picture " + name + " would replace " +
                       (o.what.rfind("--", 0) == 0 ? "the " + o.what + " file" : o.what));
        }
    }
}

}  // namespace crv::commands
