#include <string>

#include "dialogs/design_terms.h"
#include "dialogs/dialog.h"
#include "dialogs/frmHelp.h"
#include "resources/resource_names.h"
#include "state/shared_state.h"

namespace selvane::dialogs {
namespace {

using namespace design;

constexpr Rgb kLinkBlue{0x00, 0x00, 0xC0};

ControlDesign Link(std::string name, std::string caption, std::string tooltip, platform::TwipsRect position,
                   std::string container) {
    ControlDesign link;
    link.name = std::move(name);
    link.kind = ControlKind::Label;
    link.caption = std::move(caption);
    link.tooltip = std::move(tooltip);
    link.position = position;
    link.container = std::move(container);
    link.font.points = 9.75;
    link.font.bold = false;
    link.font.underline = true;
    link.fore_colour = kLinkBlue;
    link.back_colour = kWhite;
    link.cursor = resources::kHandCursor;
    link.cursor_hot_x = resources::kCursorHotSpotX;
    link.cursor_hot_y = resources::kCursorHotSpotY;
    return link;
}

ControlDesign RightAlignedLink(std::string name, std::string caption, std::string tooltip,
                               platform::TwipsRect position) {
    auto link = Link(std::move(name), std::move(caption), std::move(tooltip), position, "");
    link.align = TextAlign::Right;
    link.transparent = true;
    return link;
}

platform::FormDesign MakeHelpDesign() {
    platform::FormDesign design;
    design.name = "frmHelp";
    design.caption = std::string(state::kProductName) + " - Help";
    design.client_width = 9285;
    design.client_height = 7170;
    design.back_colour = kWhite;
    // Drawn from the top left and cut off by the client area.
    design.picture.file = resources::kHelpPicture;
    design.picture.width = 733;
    design.picture.height = 533;

    // A white strip over the picture's contact line, holding the web and e-mail links.
    ControlDesign contact;
    contact.name = "Frame1";
    contact.kind = ControlKind::Frame;
    contact.position = {1980, 720, 4995, 315};
    contact.has_border = false;
    contact.back_colour = kWhite;

    design.controls = {
        contact,
        Link("Label2", state::kMakerWebHost, "Visit us!", {60, 0, 2235, 255}, "Frame1"),
        Link("Label3", state::kInfoEmail, "Email us!", {2400, 0, 2595, 255}, "Frame1"),
        RightAlignedLink("Label4", "Check for Updates", "Get the latest version", {7320, 420, 1875, 255}),
        RightAlignedLink("Label5", "Product Forum", "Visit the Tollamar Forum discussion for this tool",
                         {7560, 720, 1635, 255}),
    };
    return design;
}

}  // namespace

const platform::FormDesign& frmHelpDesign() { return DrawnOnce<MakeHelpDesign>(); }

}  // namespace selvane::dialogs
