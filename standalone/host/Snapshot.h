#pragma once
// The standalone host rebuilt from a snapshot (standalone/document/Snapshot.cpp describes the
// format): what crvanchor-snapshot wrote where the document could be read, for the Windows test
// host, or what a host of the portable core describes of its layout. Neither needs the
// document's GIS library or a toolkit.

#include "standalone/host/StandaloneHost.h"

#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace crv::standalone {

// Throws ComError naming the file and what is wrong with it, where in its tree (a JSON pointer)
// when it parses: numbered as the platform numbers a file that cannot be opened and data that
// is not valid, for a client that sees the result and not the error object. Groups and property
// bags nest no deeper, and values take no more bits, than a map document's reader allows.
std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path);
// The same from the snapshot's text; the error names `name` and comes from `source`. `units`,
// when given, receives the units the page is measured in ("inches" when the snapshot says none).
std::unique_ptr<StandaloneHost> HostFromSnapshotText(const std::string& text, const std::string& name,
                                                     const char* source, std::string* units = nullptr);

// The pages of a map series whose host gives each page's feature when it comes to it (a
// description with "page_count" instead of "pages"): a page not given yet cannot be read.
class GivenRows final : public objects::SeriesRows {
public:
    explicit GivenRows(size_t count) : count_(count) {}
    size_t Count() const override { return count_; }
    // Raises the host's usual error for a page whose feature was not given.
    std::vector<Variant> Row(size_t index) override;
    std::optional<Variant> Value(size_t index, size_t field) override;
    bool Given(size_t index) const { return last_ && last_->first == index; }
    // Keeps the page's feature in place of the one given before: a host gives each page's
    // feature as it puts the page in force, and a book of any length holds one row.
    void Give(size_t index, std::vector<Variant> row);

private:
    const std::vector<Variant>& GivenRow(size_t index) const;

    size_t count_;
    std::optional<std::pair<size_t, std::vector<Variant>>> last_;
};

// One page's feature, its values tagged as a snapshot tags them, in the series' field order;
// refused as a snapshot is, with `name` and where in its tree.
std::vector<Variant> TaggedRowFromText(const std::string& text, const std::string& name, const char* source);

// A value tagged as a snapshot tags an element's custom property ({"kind": "bag", "entries":
// [...]}, {"kind": "int16", "value": 7}, ...), with the same limits; refused as a snapshot is,
// with `name` and where in its tree.
Variant TaggedValueFromText(const std::string& text, const std::string& name, const char* source);

}  // namespace crv::standalone
