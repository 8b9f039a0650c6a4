#pragma once

// The forms runtime that hosts the system's dialogs: forms realised from a design table,
// their controls, the screen, the modal message box, the shell's Open and the locale's
// text comparison. A host installs one runtime at start-up (InstallRuntime).

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/object.h"

namespace selvane::platform {

/// Screen mouse pointers the system uses.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Font {
    std::string name = "MS Sans Serif";
    double points = 8.25;
    bool bold = true;
    bool underline = false;
};

/// A position in twips relative to the control's container.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

/// A bitmap held by a design: width × height pixels, rows top to bottom, 3 bytes (R, G, B)
/// per pixel. Empty when the design names a picture file instead.
struct Picture {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 24;
    std::vector<std::uint8_t> rgb;
    /// A picture file of the resources folder (JPEG, cursor), relative to that folder.
    std::string file;
};

enum class ControlKind { Frame, Label, ComboBox, Button, PictureBox };
enum class TextAlign { Left, Centre, Right };

/// One control of a form's design: everything a runtime needs to realise it.
struct ControlDesign {
    std::string name;
    ControlKind kind = ControlKind::Label;
    std::string caption;
    std::string tooltip;
    TwipsRect position;
    std::string container;  ///< name of the containing frame; empty for the form itself
    int tab_index = -1;     ///< -1 where the control takes no focus
    Font font;
    Rgb fore_colour{0, 0, 0};
    Rgb back_colour{0xAB, 0xB5, 0xC1};
    bool transparent = false;
    bool has_border = true;
    TextAlign align = TextAlign::Left;
    Picture picture;
    std::string cursor;  ///< custom mouse cursor file; empty for the default pointer
    int cursor_hot_x = 0;  ///< the cursor's hot spot, in pixels from its top left
    int cursor_hot_y = 0;
};

/// A form's design: its title, client size, background and controls.
struct FormDesign {
    std::string name;
    std::string caption;
    int client_width = 0;   ///< twips
    int client_height = 0;  ///< twips
    Rgb back_colour{0xAB, 0xB5, 0xC1};
    Picture picture;
    bool visible_form = true;  ///< false for a resource holder that is never shown
    std::vector<ControlDesign> controls;
};

/// The handlers a form's code provides. The runtime calls them on the UI thread.
struct FormEvents {
    std::function<void()> load;                            ///< runs once, at load
    std::map<std::string, std::function<void()>> click;    ///< control name → handler
};

/// A drop-down list. Entries keep the order in which they were added.
class IComboBox {
public:
    virtual ~IComboBox() = default;
    /// Removes every entry; the text reads empty afterwards.
    virtual void Clear() = 0;
    /// Appends an entry at the end of the list.
    virtual void AddItem(const std::string& item) = 0;
    /// The chosen entry's text, or empty when none is chosen.
    virtual std::string Text() const = 0;
    /// Chooses the entry with exactly this text; throws Error when there is none
    /// (a drop-down list cannot hold other text).
    virtual void SetText(const std::string& text) = 0;
    /// The entries in list order.
    virtual std::vector<std::string> Items() const = 0;
};

/// A label (and the caption of a frame or button).
class ILabel {
public:
    virtual ~ILabel() = default;
    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
};

/// A picture box; the handle stays valid while the form stays loaded.
class IPictureBox {
public:
    virtual ~IPictureBox() = default;
    /// The window-system handle of the picture; 0 when it holds none.
    virtual std::int32_t PictureHandle() const = 0;
    virtual const Picture& Image() const = 0;
};

/// A form realised by the runtime. The form loads on first use: the first call of any
/// member below creates its window and controls and runs its load handler, once.
class IForm : public virtual IObject {
public:
    /// The window handle (loads the form).
    virtual std::intptr_t hWnd() = 0;
    /// Outer size in twips, borders and title included (loads the form).
    virtual int Width() = 0;
    virtual int Height() = 0;
    /// Controls by design name (loads the form). Throws Error for an unknown name or kind.
    virtual IComboBox& ComboBox(const std::string& name) = 0;
    virtual ILabel& Label(const std::string& name) = 0;
    virtual IPictureBox& PictureBox(const std::string& name) = 0;
    /// Acts as a user's click on the named control: runs its click handler, if any.
    virtual void Click(const std::string& name) = 0;
    virtual const FormDesign& Design() const = 0;
    virtual bool Loaded() const = 0;
};

/// The screen object. Sizes are in twips; the pointer applies to every window of the process.
class IScreen {
public:
    virtual ~IScreen() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int TwipsPerPixelX() const = 0;
    virtual int TwipsPerPixelY() const = 0;
    virtual int MousePointer() const = 0;
    virtual void SetMousePointer(int pointer) = 0;
};

/// The forms runtime.
class IRuntime {
public:
    virtual ~IRuntime() = default;
    /// A new, not yet loaded form of this design; `events` are its handlers.
    virtual std::shared_ptr<IForm> CreateForm(const FormDesign& design, FormEvents events) = 0;
    virtual IScreen& Screen() = 0;
    /// A modal message box with only an OK button and no icon; returns when closed.
    virtual void MessageBox(const std::string& text, const std::string& title) = 0;
    /// The shell's "Open" verb on a target (address, mail link); the result is not reported.
    virtual void ShellOpen(std::intptr_t owner_window, const std::string& target) = 0;
    /// Case-insensitive equality by the text comparison rules of the user's locale.
    virtual bool TextEqualsIgnoringCase(const std::string& left, const std::string& right) = 0;
};

/// Installs the runtime the system uses (the host does this at start-up).
void InstallRuntime(std::shared_ptr<IRuntime> runtime);
/// The installed runtime; throws Error when no runtime is installed.
IRuntime& Runtime();

/// Decimal text of a 32-bit integer, a minus sign for negatives and no leading blank.
std::string DecimalText(std::int32_t number);
/// Removes leading and trailing blanks (spaces).
std::string TrimBlanks(const std::string& text);
/// Rounds to the nearest integer, a half going to the even neighbour.
inline std::int32_t RoundHalfEven(double value) {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    double result = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) result = floor + 1.0;
    return static_cast<std::int32_t>(result);
}

}  // namespace selvane::platform
