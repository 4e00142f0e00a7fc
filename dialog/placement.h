#pragma once
// Where the copy dialog goes and how large it is: at least 435 x 306 pixels at 96 DPI and as much more at a higher
// DPI, larger where the template needs more, centred on the work area of the monitor it is asked from and kept
// inside it.

namespace pathlift {

inline constexpr int kCopyDialogWidth = 435;
inline constexpr int kCopyDialogHeight = 306;
inline constexpr int kUnscaledDpi = 96;

struct WindowSize {
    int width;
    int height;
    friend bool operator==(const WindowSize&, const WindowSize&) = default;
};

struct WindowOrigin {
    int x;
    int y;
    friend bool operator==(const WindowOrigin&, const WindowOrigin&) = default;
};

// length * to / from, rounded to the nearest pixel as MulDiv rounds (lengths and DPIs are positive).
constexpr int Scaled(int length, int from, int to) {
    return from > 0 ? static_cast<int>((static_cast<long long>(length) * to + from / 2) / from) : length;
}

constexpr WindowSize ScaledSize(WindowSize size, int fromDpi, int toDpi) {
    return {Scaled(size.width, fromDpi, toDpi), Scaled(size.height, fromDpi, toDpi)};
}

// In each dimension the larger of 435 x 306 scaled to the window's DPI and the outer size the dialog manager gave
// the template at that DPI, so no control is ever cut off (a large font needs more) and the usual setting keeps
// its familiar size.
constexpr WindowSize CopyDialogSize(int templateWidth, int templateHeight, int dpi) {
    const int width = Scaled(kCopyDialogWidth, kUnscaledDpi, dpi);
    const int height = Scaled(kCopyDialogHeight, kUnscaledDpi, dpi);
    return {templateWidth > width ? templateWidth : width, templateHeight > height ? templateHeight : height};
}

// A rectangle of the screen, in the system's order: left, top, right, bottom.
struct ScreenArea {
    int left;
    int top;
    int right;
    int bottom;
};

// Centred in the area (division truncating toward zero), then moved inside it, so that the caption is never off the
// monitor: where the window is larger than the area, its top left corner is the area's.
constexpr WindowOrigin CentredInArea(ScreenArea area, WindowSize size) {
    const auto place = [](int low, int high, int length) {
        const int centred = low + (high - low - length) / 2;
        const int last = high - length;
        return centred > last ? (last > low ? last : low) : (centred < low ? low : centred);
    };
    return {place(area.left, area.right, size.width), place(area.top, area.bottom, size.height)};
}

} // namespace pathlift
