#pragma once
// Where the copy dialog goes and how large it is: at least 435 x 306 pixels, larger where the template needs more
// at the current font and resolution, centred on the desktop's client area.

namespace pathlift {

inline constexpr int kCopyDialogWidth = 435;
inline constexpr int kCopyDialogHeight = 306;

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

// In each dimension the larger of 435 x 306 and the outer size the dialog manager gave the template, so no control
// is ever cut off (a large font or 150 % scaling needs more) and the usual setting keeps its familiar size.
constexpr WindowSize CopyDialogSize(int templateWidth, int templateHeight) {
    return {templateWidth > kCopyDialogWidth ? templateWidth : kCopyDialogWidth,
            templateHeight > kCopyDialogHeight ? templateHeight : kCopyDialogHeight};
}

// Signed division truncating toward zero, so a desktop smaller than the window gives a small negative origin.
constexpr WindowOrigin CentredOrigin(int desktopWidth, int desktopHeight, WindowSize size) {
    return {(desktopWidth - size.width) / 2, (desktopHeight - size.height) / 2};
}

} // namespace pathlift
