#pragma once
// Reference-counted objects with a query for an interface by id. Type tests ask for an
// interface id rather than using the language's run-time type information, so they work
// across shared-library boundaries.

#include "com/Guid.h"
#include "errors/ComError.h"

#include <atomic>
#include <cstdint>
#include <utility>

namespace crv {

class Unknown {
public:
    static constexpr Guid IID = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a0001");

    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // A counted pointer to the requested interface, or nullptr when the object lacks it.
    virtual void* QueryInterface(const Guid& iid) = 0;

protected:
    ~Unknown() = default;
};

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference that was already counted (as QueryInterface returns it).
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }

    // The object's T interface, or empty when it has none (or when p is empty).
    template <class U>
    static ComPtr Query(U* p) {
        if (p == nullptr) return {};
        return Attach(static_cast<T*>(p->QueryInterface(T::IID)));
    }
    template <class U>
    static ComPtr Query(const ComPtr<U>& p) {
        return Query(p.Get());
    }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }

    T* Get() const { return p_; }
    T* operator->() const {
        if (p_ == nullptr)
            Raise(vberr::kObjectVariableNotSet, "CRVAnchor", "Object variable or With block variable not set");
        return p_;
    }
    T& operator*() const { return *operator->(); }
    explicit operator bool() const { return p_ != nullptr; }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

// The identity of an object: its Unknown as the object itself answers for it, comparable
// across interfaces.
template <class U>
const void* Identity(const ComPtr<U>& p) {
    if (!p) return nullptr;
    ComPtr<Unknown> unk = ComPtr<Unknown>::Query(p);
    return unk.Get();
}

template <class A, class B>
bool SameObject(const ComPtr<A>& a, const ComPtr<B>& b) {
    return Identity(a) == Identity(b);
}

// The implementation side: a counted object that answers for each of its interfaces.
// Derived classes may hide an interface per object by overriding Exposes.
template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    void* QueryInterface(const Guid& iid) override {
        void* p = Find<First, Rest...>(iid);
        if (p != nullptr) AddRef();
        return p;
    }

    Unknown* AsUnknown() { return static_cast<First*>(this); }
    uint32_t RefCount() const { return refs_; }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    virtual bool Exposes(const Guid&) const { return true; }

private:
    template <class I, class... More>
    void* Find(const Guid& iid) {
        if (iid == Unknown::IID) return static_cast<Unknown*>(static_cast<First*>(this));
        if (iid == I::IID && Exposes(iid)) return static_cast<I*>(this);
        if constexpr (sizeof...(More) > 0) {
            return Find<More...>(iid);
        } else {
            return nullptr;
        }
    }

    std::atomic<uint32_t> refs_{0};
};

// Creates an implementation object and hands back its interface I.
template <class I, class Impl, class... Args>
ComPtr<I> MakeCom(Args&&... args) {
    Impl* impl = new Impl(std::forward<Args>(args)...);
    return ComPtr<I>(static_cast<I*>(impl));
}

}  // namespace crv
