#pragma once
// Geometry the host hands out and fills: rectangles, outlines, points, and the display on
// which an element's extent is measured.

#include "com/Unknown.h"

namespace crv {

class Display : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("5e6fd105-748e-4af5-b9d4-c2a22694506a");
    // Pixels per inch of the device; how the host turns page units into pixels.
    virtual double Resolution() = 0;

protected:
    ~Display() = default;
};

class Envelope : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("9dfbfb4f-4cb5-4b9c-ae5f-24ab09776729");
    virtual double XMin() = 0;
    virtual double YMin() = 0;
    virtual double XMax() = 0;
    virtual double YMax() = 0;
    virtual double Width() = 0;
    virtual double Height() = 0;
    // How the host answers a query into an envelope the caller created.
    virtual void PutCoords(double xmin, double ymin, double xmax, double ymax) = 0;

protected:
    ~Envelope() = default;
};

class Polygon : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("18feb9dc-22e3-4777-beec-7ba73e552bf5");
    // The polygon's envelope, a new object.
    virtual ComPtr<Envelope> GetEnvelope() = 0;
    // How the host answers a query into a polygon the caller created.
    virtual void SetEmpty() = 0;
    virtual void AddPoint(double x, double y) = 0;

protected:
    ~Polygon() = default;
};

class GeometryPoint : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("91929ff8-4a70-4a87-88f6-b3e6acc6d474");
    virtual double X() = 0;
    virtual double Y() = 0;
    virtual void SetX(double x) = 0;
    virtual void SetY(double y) = 0;

protected:
    ~GeometryPoint() = default;
};

}  // namespace crv
