// AXValue: a point, a size (or another geometry type) wrapped as an
// attribute value.
#pragma once

#include "Carbon/MacTypes.h"
#include "CoreGraphics/CGGeometry.h"

#include <memory>

enum AXValueType {
    kAXValueIllegalType = 0,
    kAXValueCGPointType = 1,
    kAXValueCGSizeType = 2,
    kAXValueCGRectType = 3,
    kAXValueCFRangeType = 4,
};

class AXValue {
public:
    AXValue(AXValueType type, CGPoint point, CGSize size) : type_(type), point_(point), size_(size) {}
    AXValueType type() const { return type_; }
    CGPoint point() const { return point_; }
    CGSize size() const { return size_; }

private:
    AXValueType type_;
    CGPoint point_;
    CGSize size_;
};

using AXValueRef = std::shared_ptr<const AXValue>;

// Points and sizes only; null for any other type or a null value pointer.
AXValueRef AXValueCreate(AXValueType type, const void* valuePtr);
AXValueType AXValueGetType(const AXValueRef& value);
// Copies the value into *valuePtr (a CGPoint for kAXValueCGPointType, a
// CGSize for kAXValueCGSizeType); false when the value is null or of
// another type.
Boolean AXValueGetValue(const AXValueRef& value, AXValueType type, void* valuePtr);
