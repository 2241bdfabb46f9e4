#pragma once
// The host's property-page protocol: how its property sheet asks a page whether it applies
// to the selection, hands it the selection and its site, embeds its window and applies or
// cancels the user's edits.

#include "host/Data.h"

#include <cstdint>
#include <string>

namespace crv {

class IComPropertyPage : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("0d6c1e3a-7f42-4b8e-9a15-3e7c2d9b4f60");

    virtual std::string Title() = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual int32_t Priority() = 0;
    virtual void SetPriority(int32_t priority) = 0;
    // The page's size in pixels.
    virtual int32_t Width() = 0;
    virtual int32_t Height() = 0;
    virtual std::string HelpFile() = 0;
    virtual int32_t HelpContextID(int32_t controlID) = 0;
    virtual bool IsPageDirty() = 0;
    virtual void SetPageSite(const ComPtr<PropertyPageSite>& site) = 0;
    // Whether the page is offered for this selection.
    virtual bool Applies(const ComPtr<ObjectSet>& objects) = 0;
    virtual void SetObjects(const ComPtr<ObjectSet>& objects) = 0;
    // The native handle of the page's window, which the sheet embeds.
    virtual intptr_t Activate() = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void Deactivate() = 0;
    virtual void Apply() = 0;
    virtual void Cancel() = 0;

protected:
    ~IComPropertyPage() = default;
};

}  // namespace crv
