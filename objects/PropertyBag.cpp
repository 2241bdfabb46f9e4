#include "objects/GenericObjects.h"

#include <algorithm>
#include <atomic>

namespace crv::objects {

namespace {

std::atomic<uint64_t> bag_changes{0};

}  // namespace

uint64_t PropertyBagChanges() { return bag_changes.load(std::memory_order_relaxed); }

size_t PropertyBagImpl::Find(const std::string& name) const {
    if (!index_.empty()) {
        const auto it = index_.find(name);
        return it != index_.end() ? it->second : entries_.size();
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].first == name) return i;
    }
    return entries_.size();
}

void PropertyBagImpl::Reindex() {
    index_.clear();
    if (entries_.size() < kIndexedFrom) return;
    for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
}

Variant PropertyBagImpl::GetProperty(const std::string& name) {
    HostCall("PropertyBag.GetProperty");
    const size_t i = Find(name);
    return i < entries_.size() ? entries_[i].second : Variant();
}

void PropertyBagImpl::SetProperty(const std::string& name, const Variant& value) {
    HostCall("PropertyBag.SetProperty");
    bag_changes.fetch_add(1, std::memory_order_relaxed);
    const size_t i = Find(name);
    if (i < entries_.size()) {
        entries_[i].second = value;
        return;
    }
    entries_.emplace_back(name, value);
    if (!index_.empty()) {
        index_.emplace(name, i);
    } else if (entries_.size() == kIndexedFrom) {
        Reindex();
    }
}

void PropertyBagImpl::RemoveProperty(const std::string& name) {
    HostCall("PropertyBag.RemoveProperty");
    const size_t i = Find(name);
    if (i == entries_.size()) return;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    bag_changes.fetch_add(1, std::memory_order_relaxed);
    if (!index_.empty()) Reindex();
}

namespace {

ComPtr<Unknown> DeepCopy(const ComPtr<Unknown>& object, int depth) {
    auto contents = ComPtr<BagContents>::Query(object);
    if (!contents) return object;
    // A bag that holds itself, directly or not, would recurse for ever.
    if (depth > 64) Raise(hresult::kFail, "ObjectCopier.Copy", "Property sets nested too deeply to copy.");
    auto copy = MakeCom<PropertyBag, PropertyBagImpl>();
    auto* impl = static_cast<PropertyBagImpl*>(copy.Get());
    for (const auto& [k, v] : contents->Entries()) {
        if (v.IsObject()) {
            impl->SetProperty(k, Variant(DeepCopy(v.AsObject(), depth + 1)));
        } else {
            impl->SetProperty(k, v);
        }
    }
    return ComPtr<Unknown>(copy);
}

}  // namespace

ComPtr<Unknown> ObjectCopierImpl::Copy(const ComPtr<Unknown>& object) {
    HostCall("ObjectCopier.Copy");
    if (!object) Raise(hresult::kPointer, "ObjectCopier.Copy", "There is no object to copy.");
    if (!ComPtr<BagContents>::Query(object)) {
        Raise(hresult::kNoInterface, "ObjectCopier.Copy", "The object cannot be copied.");
    }
    return DeepCopy(object, 0);
}

void ObjectSetImpl::Reset() {
    HostCall("ObjectSet.Reset");
    next_ = 0;
}

ComPtr<Unknown> ObjectSetImpl::Next() {
    HostCall("ObjectSet.Next");
    if (next_ >= objects_.size()) return {};
    return objects_[next_++];
}

void PageSiteImpl::PageChanged() {
    HostCall("PropertyPageSite.PageChanged");
    ++notifications_;
}

void HostUIDImpl::SetValue(const std::string& value) {
    HostCall("HostUID.SetValue");
    value_ = value;
}
std::string HostUIDImpl::Value() {
    HostCall("HostUID.Value");
    return value_;
}

}  // namespace crv::objects
