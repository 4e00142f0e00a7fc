#pragma once
// Where the copy dialog goes: a fixed outer size, centred on the desktop's client area.

namespace pathlift {

inline constexpr int kCopyDialogWidth = 435;
inline constexpr int kCopyDialogHeight = 306;

struct WindowOrigin {
    int x;
    int y;
    friend bool operator==(const WindowOrigin&, const WindowOrigin&) = default;
};

// Signed division truncating toward zero, so a desktop smaller than the window gives a small negative origin.
constexpr WindowOrigin CentredOrigin(int desktopWidth, int desktopHeight) {
    return {(desktopWidth - kCopyDialogWidth) / 2, (desktopHeight - kCopyDialogHeight) / 2};
}

} // namespace pathlift
