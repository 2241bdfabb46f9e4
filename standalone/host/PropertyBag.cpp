#include "standalone/host/Objects.h"

#include <algorithm>
#include <atomic>

namespace crv::standalone {

namespace {

std::atomic<uint64_t> bag_changes{0};

}  // namespace

uint64_t PropertyBagChanges() { return bag_changes.load(std::memory_order_relaxed); }

Variant PropertyBagImpl::GetProperty(const std::string& name) {
    HostCall("PropertyBag.GetProperty");
    for (const auto& [k, v] : entries_) {
        if (k == name) return v;
    }
    return {};
}

void PropertyBagImpl::SetProperty(const std::string& name, const Variant& value) {
    HostCall("PropertyBag.SetProperty");
    for (auto& [k, v] : entries_) {
        if (k == name) {
            v = value;
            bag_changes.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    entries_.emplace_back(name, value);
    bag_changes.fetch_add(1, std::memory_order_relaxed);
}

void PropertyBagImpl::RemoveProperty(const std::string& name) {
    HostCall("PropertyBag.RemoveProperty");
    std::erase_if(entries_, [&](const auto& e) { return e.first == name; });
    bag_changes.fetch_add(1, std::memory_order_relaxed);
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

}  // namespace crv::standalone
