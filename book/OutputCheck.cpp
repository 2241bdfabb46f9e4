#include "book/OutputCheck.h"

#include "support/CommandLine.h"
#include "support/MessageText.h"

#include <charconv>

namespace crv::book {

namespace fs = std::filesystem;
using support::FileIdentity;
using support::IdentityOf;

namespace {

[[noreturn]] void Refuse(const std::string& option, const fs::path& path, const std::string& why) {
    throw OutputRefused(option + " " + support::QuotedValue(path.string()) + ": " + why + "; nothing was written");
}

// The page a file named page-NNN.png holds; nothing for another name.
std::optional<int32_t> PicturePage(const std::string& name) {
    int32_t page = 0;
    if (name.size() < 12 || name.rfind("page-", 0) != 0 || name.substr(name.size() - 4) != ".png") return {};
    const auto [end, ec] = std::from_chars(name.data() + 5, name.data() + name.size() - 4, page);
    if (ec != std::errc() || end != name.data() + name.size() - 4) return {};
    return page;
}

}  // namespace

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
        const std::optional<int32_t> page = PicturePage(name);
        if (!page || !files.png_pages.Contains(*page)) continue;
        if (IdentityOf(p.has_parent_path() ? p.parent_path() : fs::path(".")) == folder) {
            Refuse("--png", png,
                   "its page picture " + name + " would replace " +
                       (o.what.rfind("--", 0) == 0 ? "the " + o.what + " file" : o.what));
        }
    }
}

}  // namespace crv::book
