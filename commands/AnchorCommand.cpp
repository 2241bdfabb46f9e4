#include "commands/AnchorCommand.h"

#include "book/Order.h"
#include "host/Companions.h"
#include "host/HostClasses.h"

namespace crv::commands {

ComPtr<LayoutElement> ElementNamed(const std::string& name) {
    ComPtr<LayoutElement> found;
    book::WalkLayout(RunningApplication()->Document()->PageLayout(),
                     [&](const ComPtr<LayoutElement>& e, const std::string&) {
                         if (!found && e->Name() == name) found = e;
                     });
    return found;
}

std::vector<std::string> SeriesFieldNames(const ComPtr<LayoutElement>& frame) {
    const ComPtr<MapSeriesFrame> series = NewMapSeriesFrame();
    series->Bind(ComPtr<MapFrame>::Query(frame));
    const ComPtr<FieldSet> fields = series->IndexLayer()->Table()->Fields();
    std::vector<std::string> names;
    const int32_t count = fields->FieldCount();
    for (int32_t i = 0; i < count; ++i) names.push_back(fields->FieldAt(i)->Name());
    return names;
}

void CheckAnchorEdit(const RecordChanges& changes, const std::string& document, const FieldsOfRecord& fields) {
    const book::ElementNames targets(RunningApplication()->Document()->PageLayout());
    CheckTargets(changes, [&](const std::string& name) { return static_cast<bool>(targets.Find(name)); }, document);
    if (!NamesAField(changes) || !fields) return;
    if (const std::optional<DistanceFields> known = fields()) CheckFieldNames(changes, known->names, known->in);
}

AnchorEdit ApplyAnchorEdit(_CRVAnchorManager& manager, const ComPtr<LayoutElement>& element,
                           const RecordChanges& changes) {
    AnchorEdit edit;
    edit.outcome = ApplyRecordChanges(manager, element, changes);
    if (edit.outcome != RecordEditOutcome::Reported) edit.cycle = RecordCycleWarning(element);
    return edit;
}

}  // namespace crv::commands
