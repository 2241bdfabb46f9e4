#pragma once
// The outputs of a book command checked before anything is written: an output that would
// replace a file the command reads or another output, or that names what it cannot be, is
// refused in one line, told by file identity whatever the paths' spelling.

#include "anchor/PageList.h"
#include "support/Errors.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace crv::commands {

// One line ending "; nothing was written".
class OutputRefused : public support::CommandError {
public:
    using CommandError::CommandError;
};

struct BookFiles {
    struct File {
        std::string what;  // an input: "the map document being read"; an output: its option, "--pdf"
        std::filesystem::path path;
        bool saved_in_place = false;  // an input that --save may replace: that is what it asks
    };
    std::vector<File> inputs;
    std::vector<File> outputs;  // files written whole: --pdf, --report, --save
    std::optional<std::filesystem::path> png;  // a folder of page pictures (PagePictureName)
    PageList png_pages;  // the pages drawn into it
    int png_layout_pages = 1;  // the pictures of each page: one per page of its layout
    // How an output the same as an earlier one is refused: "the same file as --pdf" (crvanchor)
    // or "that is the --pdf file" (crvanchor-qgis).
    enum class Wording { SameFileAs, ThatIsTheFile } wording = Wording::SameFileAs;
};

// The name of the picture of the book's `page`: page-NNN.png for the first page of its layout,
// page-NNN-2.png for the second and so on.
std::string PagePictureName(int32_t page, int layoutPage = 1);

// Throws OutputRefused naming the option and the path: "--report \"doc.json\": that is the
// map document being read; nothing was written". `hostCheck`, when given, is asked about each
// output that is not refused for its kind, before it is compared, and throws its own refusal.
void CheckOutputs(const BookFiles& files, const std::function<void(const BookFiles::File& output)>& hostCheck = {});

// Makes the folders the outputs go into, the PNG folder itself and every output file's folder,
// as the user named them: a report or a PDF into a folder not made yet is written as the
// pictures are. Called once the outputs passed CheckOutputs; throws FileWriteError naming the
// option and the folder it cannot make.
void MakeOutputFolders(const BookFiles& files);

}  // namespace crv::commands
