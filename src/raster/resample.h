#pragma once
// Reconstruction kernels for resampling (CRasterSrc::Resample, resample.cpp).
//
// A kernel is an even function of the distance t between a source pixel and
// the point being reconstructed, zero outside [-support, support]. Values are
// computed in single precision. The seven kinds are listed in the order of the
// resample dialog, which picks one by its index.
#include <memory>
#include <string_view>

class CStrecthFilter {
public:
    explicit CStrecthFilter(float support) : support(support) {}
    virtual ~CStrecthFilter() = default;
    virtual float Filter(float t) const = 0;

    float support;  // half-width of the kernel
};

class CTriangleFilter : public CStrecthFilter {
public:
    CTriangleFilter() : CStrecthFilter(1.0f) {}
    float Filter(float t) const override;
};

// Not symmetric at its edges: 1 on (-0.5, 0.5], so a pixel half way between
// two sources takes the one on its left.
class CBoxFilter : public CStrecthFilter {
public:
    CBoxFilter() : CStrecthFilter(0.5f) {}
    float Filter(float t) const override;
};

class CHermiteFilter : public CStrecthFilter {
public:
    CHermiteFilter() : CStrecthFilter(1.0f) {}
    float Filter(float t) const override;
};

class CBellFilter : public CStrecthFilter {
public:
    CBellFilter() : CStrecthFilter(1.5f) {}
    float Filter(float t) const override;
};

// The cubic B-spline.
class CSplineFilter : public CStrecthFilter {
public:
    CSplineFilter() : CStrecthFilter(2.0f) {}
    float Filter(float t) const override;
};

// sinc(t) sinc(t / 3); its negative lobes can push sums outside 0..255.
class CLanczos3Filter : public CStrecthFilter {
public:
    CLanczos3Filter() : CStrecthFilter(3.0f) {}
    float Filter(float t) const override;
};

// The Mitchell-Netravali cubic with both parameters 1/3.
class CMitchellFilter : public CStrecthFilter {
public:
    CMitchellFilter() : CStrecthFilter(2.0f) {}
    float Filter(float t) const override;
};

constexpr int kStretchFilterCount = 7;

// The kernel at a dialog index (0 triangle, 1 box, 2 Hermite, 3 bell,
// 4 B-spline, 5 Lanczos3, 6 Mitchell); null for any other index or when
// memory is short.
std::unique_ptr<CStrecthFilter> CreateStretchFilter(int index);

// The command-line name of a kernel ("triangle", "box", "hermite", "bell",
// "spline", "lanczos3", "mitchell"); empty for an unknown index.
std::string_view GetStretchFilterName(int index);

// The index of a kernel by its name, case ignored; "lanczos" names Lanczos3
// and "bspline" the B-spline. -1 for an unknown name.
int FindStretchFilter(std::string_view name);
