#pragma once
// A map series' index layer: its table, its fields and the feature of each page.

#include "com/Variant.h"

#include <string>

namespace crv {

// Field type codes of the host. 0, 1, 2, 3 and 6 are the numeric kinds.
namespace fieldtype {
inline constexpr int32_t kSmallInteger = 0;
inline constexpr int32_t kInteger = 1;
inline constexpr int32_t kSingle = 2;
inline constexpr int32_t kDouble = 3;
inline constexpr int32_t kString = 4;
inline constexpr int32_t kDate = 5;
inline constexpr int32_t kObjectId = 6;
inline constexpr int32_t kGeometry = 7;
inline constexpr int32_t kBlob = 8;
inline constexpr int32_t kRaster = 9;
inline constexpr int32_t kGuid = 10;
inline constexpr int32_t kGlobalId = 11;
inline constexpr int32_t kXml = 12;
}  // namespace fieldtype

class Field : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("3db7e12b-cfca-4318-b720-97321735b600");
    virtual std::string Name() = 0;
    virtual int32_t Type() = 0;

protected:
    ~Field() = default;
};

class FieldSet : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("81cbb208-8cbc-4814-8ee4-3e2a638e4666");
    virtual int32_t FieldCount() = 0;
    virtual ComPtr<Field> FieldAt(int32_t index) = 0;

protected:
    ~FieldSet() = default;
};

class FeatureTable : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("dcbe869a-2398-440e-b6e2-c4e7f8f2239d");
    virtual ComPtr<FieldSet> Fields() = 0;
    // The field's index, or -1 when there is none of that name (exact comparison).
    virtual int32_t FindField(const std::string& name) = 0;

protected:
    ~FeatureTable() = default;
};

class SeriesLayer : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("3be3cb54-16d7-4935-8f7c-75d6d65adcf5");
    virtual ComPtr<FeatureTable> Table() = 0;

protected:
    ~SeriesLayer() = default;
};

class PageFeature : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("fa2eff3d-08f8-4a0e-b7b8-99553b0c2ccd");
    // The value of the field at index; may be Null.
    virtual Variant Value(int32_t index) = 0;

protected:
    ~PageFeature() = default;
};

}  // namespace crv
