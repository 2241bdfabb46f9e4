#pragma once
// A look at a PDF that another library wrote by name, before it replaces anything: a writer
// that does not see a full disk reports success over a file cut short. Cross-reference table
// and trailer are read; every object they list must start where they say.

#include <filesystem>
#include <optional>
#include <string>

namespace crv::support {

// What is wrong with the PDF at `path`, or nothing when it is whole.
std::optional<std::string> PdfDefect(const std::filesystem::path& path);

}  // namespace crv::support
