#include "objects/GenericObjects.h"

#include <algorithm>

namespace crv::objects {

double EnvelopeImpl::XMin() {
    HostCall("Envelope.XMin");
    return r_.xmin;
}
double EnvelopeImpl::YMin() {
    HostCall("Envelope.YMin");
    return r_.ymin;
}
double EnvelopeImpl::XMax() {
    HostCall("Envelope.XMax");
    return r_.xmax;
}
double EnvelopeImpl::YMax() {
    HostCall("Envelope.YMax");
    return r_.ymax;
}
double EnvelopeImpl::Width() {
    HostCall("Envelope.Width");
    return r_.Width();
}
double EnvelopeImpl::Height() {
    HostCall("Envelope.Height");
    return r_.Height();
}

void EnvelopeImpl::PutCoords(double xmin, double ymin, double xmax, double ymax) {
    HostCall("Envelope.PutCoords");
    r_ = {std::min(xmin, xmax), std::min(ymin, ymax), std::max(xmin, xmax), std::max(ymin, ymax)};
}

ComPtr<Envelope> PolygonImpl::GetEnvelope() {
    HostCall("Polygon.GetEnvelope");
    Rect r;
    if (!points_.empty()) {
        r = {points_[0].first, points_[0].second, points_[0].first, points_[0].second};
        for (const auto& [x, y] : points_) {
            r.xmin = std::min(r.xmin, x);
            r.ymin = std::min(r.ymin, y);
            r.xmax = std::max(r.xmax, x);
            r.ymax = std::max(r.ymax, y);
        }
    }
    return MakeCom<Envelope, EnvelopeImpl>(r);
}

void PolygonImpl::SetEmpty() {
    HostCall("Polygon.SetEmpty");
    points_.clear();
    // Room for a closed rectangle at once, the outline every element reports.
    points_.reserve(5);
}
void PolygonImpl::AddPoint(double x, double y) {
    HostCall("Polygon.AddPoint");
    points_.emplace_back(x, y);
}

double PointImpl::X() {
    HostCall("GeometryPoint.X");
    return x_;
}
double PointImpl::Y() {
    HostCall("GeometryPoint.Y");
    return y_;
}
void PointImpl::SetX(double x) {
    HostCall("GeometryPoint.SetX");
    x_ = x;
}
void PointImpl::SetY(double y) {
    HostCall("GeometryPoint.SetY");
    y_ = y;
}

double DisplayImpl::Resolution() {
    HostCall("Display.Resolution");
    return 96.0;
}

void PutRectangle(const ComPtr<Polygon>& polygon, const Rect& r) {
    polygon->SetEmpty();
    polygon->AddPoint(r.xmin, r.ymin);
    polygon->AddPoint(r.xmin, r.ymax);
    polygon->AddPoint(r.xmax, r.ymax);
    polygon->AddPoint(r.xmax, r.ymin);
    polygon->AddPoint(r.xmin, r.ymin);
}

}  // namespace crv::objects
