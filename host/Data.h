#pragma once
// The host's generic objects: property sets, the selection, the copier, the page site,
// identifiers and the category registrar.

#include "com/Variant.h"

#include <string>

namespace crv {

class PropertyBag : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("44a06522-9811-4951-9687-1c9d95fa051a");
    // The value under name; Empty when the bag has no such key.
    virtual Variant GetProperty(const std::string& name) = 0;
    // Replaces any former value.
    virtual void SetProperty(const std::string& name, const Variant& value) = 0;
    virtual void RemoveProperty(const std::string& name) = 0;

protected:
    ~PropertyBag() = default;
};

class ObjectSet : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("6cce2be0-3334-4652-8e69-0c5e0e5e86f2");
    virtual void Reset() = 0;
    // The next object; empty after the last.
    virtual ComPtr<Unknown> Next() = 0;

protected:
    ~ObjectSet() = default;
};

class ObjectCopier : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("c89a84c6-9216-4722-9393-ad47e8e41b16");
    // An independent deep copy.
    virtual ComPtr<Unknown> Copy(const ComPtr<Unknown>& object) = 0;

protected:
    ~ObjectCopier() = default;
};

class PropertyPageSite : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("113df956-ca42-49f9-854a-89d07d16e2ba");
    // The page's contents changed.
    virtual void PageChanged() = 0;

protected:
    ~PropertyPageSite() = default;
};

class HostUID : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("2aea0182-4353-4075-ada0-1fb19bd3c77d");
    // GUID text or a programmatic identifier, kept as given.
    virtual void SetValue(const std::string& value) = 0;
    virtual std::string Value() = 0;

protected:
    ~HostUID() = default;
};

class CategoryRegistrar : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("9e70d833-c0de-4516-b713-43b8533ece83");
    // Enters (install true) or removes the class in the component category.
    virtual void Setup(const std::string& libraryPath, const ComPtr<HostUID>& classId,
                       const ComPtr<HostUID>& categoryId, bool install) = 0;

protected:
    ~CategoryRegistrar() = default;
};

}  // namespace crv
